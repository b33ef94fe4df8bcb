// comreg: registers and unregisters component libraries and lists the
// registered classes, as the platform's registration program does.
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/guid.h"
#include "platform/com/registry.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: comreg register [--user] LIBRARY\n"
    "       comreg unregister [--user] LIBRARY\n"
    "       comreg list\n"
    "       comreg --help\n"
    "\n"
    "register    load LIBRARY and run its DllRegisterServer\n"
    "unregister  load LIBRARY and run its DllUnregisterServer\n"
    "list        show the registered classes (CLSID, ProgIDs and library) and\n"
    "            type libraries (version, file per locale and platform, flags, help folder)\n"
    "--user      write the current user's classes instead of the machine's\n"
    "\n"
    "The registry lives in the files named by TALTRIX_COM_MACHINE_HIVE\n"
    "(default /var/lib/taltrix/com/classes.reg) and TALTRIX_COM_USER_HIVE\n"
    "(default ~/.config/taltrix/com/classes.reg).\n"
    "\n"
    "Exit status: 0 done, 1 the library's function failed, 2 usage error,\n"
    "3 the library cannot be loaded or lacks the function, 4 the registry cannot be read.\n";

enum ExitCode { kOk = 0, kFailed = 1, kUsageError = 2, kCannotLoad = 3, kCannotRead = 4 };

int usageError(std::string_view problem) {
    std::fprintf(stderr, "comreg: %.*s\n%.*s", static_cast<int>(problem.size()), problem.data(),
                 static_cast<int>(kUsage.size()), kUsage.data());
    return kUsageError;
}

int runServerFunction(const std::string& library, const char* function, bool perUser) {
    std::string path = library;
    std::error_code ec;
    // A file given by a relative name is that file, not a search of the library path.
    if (std::filesystem::exists(path, ec)) path = std::filesystem::absolute(path, ec).lexically_normal().string();
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = ::dlerror();
        std::fprintf(stderr, "comreg: cannot load %s: %s\n", library.c_str(), reason ? reason : "unknown error");
        return kCannotLoad;
    }
    auto entry = reinterpret_cast<HRESULT (*)()>(::dlsym(handle, function));
    if (entry == nullptr) {
        std::fprintf(stderr, "comreg: %s does not export %s\n", library.c_str(), function);
        ::dlclose(handle);
        return kCannotLoad;
    }
    com::registry::setPerUserRegistration(perUser);
    const HRESULT hr = entry();
    com::registry::setPerUserRegistration(false);
    ::dlclose(handle);
    if (FAILED(hr)) {
        const std::string reason = com::registry::lastError();
        std::fprintf(stderr, "comreg: %s failed in %s: %s (%s)%s%s\n", function, library.c_str(),
                     com::hresultHex(hr).c_str(), com::hresultName(hr).c_str(), reason.empty() ? "" : ": ",
                     reason.c_str());
        return kFailed;
    }
    const bool registering = std::string_view(function) == "DllRegisterServer";
    std::printf("%s %s %s\n", registering ? "Registered" : "Unregistered", path.c_str(),
                perUser ? "for the current user" : "machine-wide");
    return kOk;
}

// TypeLib\{libid}\<major.minor> names the library; below it, one key per
// locale holds the file per platform, beside FLAGS and HELPDIR.
void listTypeLibraries(const com::registry::ClassesRoot& root) {
    for (const auto& libid : root.enumKeys("TypeLib")) {
        for (const auto& version : root.enumKeys("TypeLib\\" + libid)) {
            const std::string path = "TypeLib\\" + libid + "\\" + version;
            const auto scope = root.keyScope(path);
            std::printf("TypeLib %s %s (%s) %s\n", libid.c_str(), version.c_str(),
                        scope == com::registry::Scope::user ? "user" : "machine",
                        root.queryString(path).value_or("").c_str());
            for (const auto& locale : root.enumKeys(path)) {
                if (locale == "FLAGS" || locale == "HELPDIR") continue;
                for (const auto& platform : root.enumKeys(path + "\\" + locale)) {
                    const auto file = root.queryString(path + "\\" + locale + "\\" + platform);
                    std::printf("    Locale %s, %s: %s\n", locale.c_str(), platform.c_str(), file.value_or("").c_str());
                }
            }
            std::printf("    Flags: %s\n    HelpDir: %s\n", root.queryString(path + "\\FLAGS").value_or("").c_str(),
                        root.queryString(path + "\\HELPDIR").value_or("").c_str());
        }
    }
}

int list() {
    HRESULT hr = S_OK;
    const auto root = com::registry::ClassesRoot::load(&hr);
    if (!root) {
        std::fprintf(stderr, "comreg: cannot read the registry: %s\n", com::registry::lastError().c_str());
        return kCannotRead;
    }
    // Every ProgID names its class in ProgID\CLSID; gather them per class.
    std::vector<std::pair<std::string, std::string>> progIds;  // (clsid, progid)
    for (const auto& name : root->enumKeys("")) {
        if (auto clsid = root->queryString(name + "\\CLSID")) {
            if (auto guid = com::parseGuid(std::string_view(*clsid)))
                progIds.emplace_back(com::formatGuid(*guid), name);
        }
    }
    for (const auto& key : root->enumKeys("CLSID")) {
        const std::string path = "CLSID\\" + key;
        const auto library = root->queryString(path + "\\InprocServer32");
        if (!library) continue;
        const auto guid = com::parseGuid(std::string_view(key));
        const std::string clsid = guid ? com::formatGuid(*guid) : key;
        const auto scope = root->keyScope(path);
        std::printf("%s (%s) %s\n", clsid.c_str(), scope == com::registry::Scope::user ? "user" : "machine",
                    root->queryString(path).value_or("").c_str());
        // The class's own ProgID first, then the others naming it.
        std::vector<std::string> names;
        if (auto progId = root->queryString(path + "\\ProgID")) names.push_back(*progId);
        for (const auto& [owner, name] : progIds) {
            if (owner == clsid && std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
        }
        std::string joined;
        for (const auto& name : names) joined += (joined.empty() ? "" : " ") + name;
        std::printf("    ProgIDs: %s\n    Library: %s\n", joined.c_str(), library->c_str());
    }
    listTypeLibraries(*root);
    return kOk;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.empty()) return usageError("no command given");
    const std::string_view command = args.front();
    if (command == "--help" || command == "-h" || command == "help") {
        std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
        return kOk;
    }
    if (command == "list") {
        if (args.size() != 1) return usageError("list takes no arguments");
        return list();
    }
    if (command != "register" && command != "unregister") {
        return usageError("unknown command '" + std::string(command) + "'");
    }
    bool perUser = false;
    std::string library;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--user") {
            perUser = true;
        } else if (!args[i].empty() && args[i].front() == '-') {
            return usageError("unknown option '" + std::string(args[i]) + "'");
        } else if (library.empty()) {
            library = args[i];
        } else {
            return usageError("more than one library given");
        }
    }
    if (library.empty()) return usageError("no library given");
    return runServerFunction(library, command == "register" ? "DllRegisterServer" : "DllUnregisterServer", perUser);
}
