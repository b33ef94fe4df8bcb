#include "bridge/support/environment_report.h"

#include <openssl/crypto.h>
#include <sqlite3.h>
#include <sys/utsname.h>
#include <zip.h>

#include <QtGlobal>
#include <filesystem>
#include <fstream>

#include "bridge/app/app_texts.h"
#include "platform/com/registry.h"
#include "platform/text/code_page.h"

namespace taltrix::support {

namespace {

// The ProgIDs the control answers to.
constexpr const char* controlProgIds[] = {"QuillonWS.Morvane", "QuillonWS.Morvane.1", "QuillonWS16.Morvane"};

std::string operatingSystem() {
    std::string name;
    std::ifstream release("/etc/os-release");
    for (std::string line; std::getline(release, line);) {
        if (line.rfind("PRETTY_NAME=", 0) == 0) {
            name = line.substr(12);
            if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
        }
    }
    struct utsname system {};
    if (::uname(&system) == 0) {
        name += (name.empty() ? "" : ", ") + std::string(system.sysname) + " " + system.release + " " + system.machine;
    }
    return name.empty() ? "unknown" : name;
}

std::string scopeName(com::registry::Scope scope) {
    return scope == com::registry::Scope::user ? "per-user" : "machine-wide";
}

}  // namespace

std::string versionsReport() {
    std::string text;
    text += "Taltrix: " + std::string(app::shortVersionText) + "\n";
    text += "Qt: " + std::string(qVersion()) + " (built with " QT_VERSION_STR ")\n";
    text += "OpenSSL: " + std::string(OpenSSL_version(OPENSSL_VERSION)) + "\n";
    text += "SQLite: " + std::string(sqlite3_libversion()) + "\n";
    text += "libzip: " + std::string(zip_libzip_version()) + "\n";
    text += "Operating system: " + operatingSystem() + "\n";
    text += "ANSI code page: " + std::to_string(codepage::ansiCodePage()) + "\n";
    return text;
}

std::string controlRegistrationReport() {
    namespace registry = com::registry;
    std::string text;
    for (const registry::Scope scope : {registry::Scope::user, registry::Scope::machine}) {
        const std::string hive = registry::hivePath(scope);
        std::error_code ec;
        text += scopeName(scope) + " hive: " + hive + (std::filesystem::exists(hive, ec) ? "" : " (not there)") + "\n";
    }
    HRESULT hr = S_OK;
    const auto root = registry::ClassesRoot::load(&hr);
    if (!root) return text + "the registry cannot be read: " + registry::lastError() + "\n";
    for (const char* progId : controlProgIds) {
        const auto clsid = root->queryString(std::string(progId) + "\\CLSID");
        if (!clsid) {
            text += std::string(progId) + ": not registered\n";
            continue;
        }
        const std::string classKey = "CLSID\\" + *clsid;
        const auto library = root->queryString(classKey + "\\InprocServer32");
        const auto scope = root->keyScope(classKey);
        std::error_code ec;
        text += std::string(progId) + ": class " + *clsid + (scope ? " (" + scopeName(*scope) + ")" : "") + "\n";
        text += "    library: " + library.value_or("none") +
                (library && !std::filesystem::exists(*library, ec) ? " (the file is not there)" : "") + "\n";
        if (const auto typeLib = root->queryString(classKey + "\\TypeLib"))
            text += "    type library: " + *typeLib + "\n";
    }
    return text;
}

}  // namespace taltrix::support
