#include "tools/morvane/creation_problem.h"

#include <unistd.h>

#include <array>
#include <filesystem>
#include <system_error>

#include "platform/com/creation.h"
#include "platform/com/registry.h"

namespace morvane::cli {

namespace {

constexpr const char* libraryName = "libmorvane.so";
constexpr const char* libraryPlaceholder = "PATH/libmorvane.so";

std::filesystem::path programFolder() {
    std::array<char, 4096> buffer{};
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) return {};
    return std::filesystem::path(std::string(buffer.data(), static_cast<std::size_t>(length))).parent_path();
}

bool isFile(const std::filesystem::path& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(path, error);
}

}  // namespace

std::string likelyLibraryPath() {
    if (const std::filesystem::path folder = programFolder(); !folder.empty()) {
        // An installed tool keeps the library beside it or in the lib folder
        // next to its own.
        const std::filesystem::path candidates[] = {folder / libraryName, folder.parent_path() / "lib" / libraryName};
        for (const std::filesystem::path& candidate : candidates) {
            if (isFile(candidate)) return candidate.lexically_normal().string();
        }
    }
#ifdef MORVANE_BUILT_LIBRARY
    // Run from the build tree, where the library sits in the control's folder.
    if (isFile(MORVANE_BUILT_LIBRARY)) return MORVANE_BUILT_LIBRARY;
#endif
    return libraryPlaceholder;
}

std::string creationProblem(HRESULT hr, const std::string& progId) {
    using com::registry::hivePath;
    using com::registry::Scope;
    if (hr == CO_E_CLASSSTRING || hr == REGDB_E_CLASSNOTREG) {
        return "The control's ProgID " + progId + " is not registered: neither the per-user hive " +
               hivePath(Scope::user) + " nor the machine hive " + hivePath(Scope::machine) +
               " has its class. Register it with: comreg register --user " + likelyLibraryPath();
    }
    if (hr == REGDB_E_READREGDB) {
        return "The class registry cannot be read, so " + progId +
               " cannot be looked up: " + com::registry::lastError();
    }
    if (const std::string loadError = com::lastLoadError(); !loadError.empty()) return loadError;
    return com::hresultName(hr);
}

}  // namespace morvane::cli
