#include "bridge/app/program_folder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#ifndef TALTRIX_INSTALL_MARKER
#define TALTRIX_INSTALL_MARKER "../share/taltrix/installed"
#endif

namespace taltrix::app {

namespace {

std::string userHome(Environment environment) {
    if (auto home = environment("HOME"); home && !home->empty()) return *home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return "/";
}

}  // namespace

std::optional<std::string> processEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

std::string xdgBaseFolder(const char* variable, const char* belowHome, Environment environment) {
    // The base directories' rule: a relative value is invalid and ignored.
    if (auto value = environment(variable); value && !value->empty() && value->front() == '/') return *value;
    return (std::filesystem::path(userHome(environment)) / belowHome).string();
}

std::string installMarkerFromExecutable() { return TALTRIX_INSTALL_MARKER; }

std::string executableFolder() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : self.parent_path().string();
}

ProgramFolder chooseProgramFolder(const std::optional<std::string>& home, const std::string& executableFolder,
                                  Environment environment) {
    if (home) return {*home, FolderKind::given};
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::path(executableFolder) / installMarkerFromExecutable(),
                                          ec)) {
        return {executableFolder, FolderKind::besideExe};
    }
    const std::filesystem::path data = xdgBaseFolder("XDG_DATA_HOME", ".local/share", environment);
    return {(data / "taltrix").string(), FolderKind::perUser};
}

ProgramFolder programFolder(const std::optional<std::string>& home) {
    return chooseProgramFolder(home, executableFolder(), processEnvironment);
}

std::string createPrivateFolder(const std::string& path) {
    // Each missing part is made 700 in turn; parts that exist are left as they are.
    std::filesystem::path sofar;
    for (const auto& part : std::filesystem::path(path)) {
        sofar /= part;
        if (::mkdir(sofar.c_str(), 0700) != 0 && errno != EEXIST) {
            return "cannot create " + sofar.string() + ": " + std::strerror(errno);
        }
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return path + " is not a folder";
    return {};
}

std::string programFolderHelpLine(const ProgramFolder& folder) {
    const char* why = folder.kind == FolderKind::given      ? "given by --home"
                      : folder.kind == FolderKind::perUser ? "this user's, as Taltrix is installed"
                                                            : "beside the executable, as Taltrix is not installed";
    return "Program folder in use: " + folder.path + " (" + why + ")\n";
}

}  // namespace taltrix::app
