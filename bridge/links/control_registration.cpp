#include "bridge/links/control_registration.h"

#include <dlfcn.h>

#include <filesystem>

#ifndef TALTRIX_PRIVATE_LIBDIR
#define TALTRIX_PRIVATE_LIBDIR "../lib/taltrix"
#endif

#include "bridge/links/morvane_client.h"
#include "platform/com/creation.h"
#include "platform/com/registry.h"

namespace taltrix::links {

std::string bundledControlLibrary(const std::string& executableFolder) {
    std::error_code ec;
    for (const std::filesystem::path& library :
         {std::filesystem::path(executableFolder) / bundledControlFile,
          std::filesystem::path(executableFolder) / TALTRIX_PRIVATE_LIBDIR / bundledControlFile}) {
        if (std::filesystem::is_regular_file(library, ec)) return library.string();
    }
    return {};
}

std::string registerBundledControl(const std::string& executableFolder) {
    CLSID clsid{};
    if (SUCCEEDED(com::classIdOf(morvaneProgId, clsid))) return {};
    const std::string library = bundledControlLibrary(executableFolder);
    if (library.empty()) return {};
    std::error_code ec;

    const std::string path = std::filesystem::absolute(library, ec).lexically_normal().string();
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = ::dlerror();
        return "The Morvane control cannot be registered: " + std::string(reason ? reason : path) + ".";
    }
    auto registerServer = reinterpret_cast<HRESULT (*)()>(::dlsym(handle, "DllRegisterServer"));
    if (registerServer == nullptr) {
        ::dlclose(handle);
        return "The Morvane control cannot be registered: " + path + " has no DllRegisterServer.";
    }
    com::registry::setPerUserRegistration(true);
    const HRESULT hr = registerServer();
    com::registry::setPerUserRegistration(false);
    ::dlclose(handle);
    if (FAILED(hr)) {
        const std::string reason = com::registry::lastError();
        return "The Morvane control cannot be registered: " + com::hresultHex(hr) +
               (reason.empty() ? std::string() : " " + reason) + ".";
    }
    return "Morvane control registered for the current user: " + path;
}

}  // namespace taltrix::links
