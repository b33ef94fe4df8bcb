#include "bridge/app/autostart.h"

#include <filesystem>
#include <fstream>

#include "bridge/app/program_folder.h"

namespace taltrix::app {

namespace {

constexpr const char* entryHead =
    "[Desktop Entry]\n"
    "Type=Application\n"
    "Name=Taltrix\n"
    "Comment=Starts Taltrix hidden when the session starts\n"
    "Icon=taltrix\n"
    "Terminal=false\n"
    "X-GNOME-Autostart-enabled=true\n";

}  // namespace

std::string desktopExecArgument(const std::string& argument) {
    const bool plain = !argument.empty() && argument.find_first_of(" \t\n\r\"'\\><~|&;$*?#()`%") == std::string::npos;
    if (plain) return argument;
    // Two rules apply in turn: the quoting rule of the Exec key escapes " ` $
    // and \ with a backslash, and then the entry's string rule escapes every
    // backslash (and line break) again. A percent sign is doubled.
    std::string quoted = "\"";
    for (const char c : argument) {
        switch (c) {
            case '"':
            case '`':
            case '$':
                quoted += "\\\\";
                quoted += c;
                break;
            case '\\': quoted += "\\\\\\\\"; break;
            case '%': quoted += "%%"; break;
            case '\n': quoted += "\\n"; break;
            case '\t': quoted += "\\t"; break;
            case '\r': quoted += "\\r"; break;
            default: quoted += c;
        }
    }
    return quoted + '"';
}

Autostart::Autostart(std::vector<std::string> command, const std::string& configFolder)
    : command_(std::move(command)),
      file_((std::filesystem::path(configFolder) / "autostart" / autostartFileName).string()) {}

Autostart Autostart::forThisProcess(const std::optional<std::string>& home) {
    std::vector<std::string> command = {(std::filesystem::path(executableFolder()) / "taltrix").string(), "--hidden"};
    if (home) {
        std::error_code ec;
        command.push_back("--home");
        command.push_back(std::filesystem::absolute(*home, ec).lexically_normal().string());
    }
    return Autostart(std::move(command), xdgBaseFolder("XDG_CONFIG_HOME", ".config", processEnvironment));
}

bool Autostart::isOn() const {
    std::error_code ec;
    return std::filesystem::exists(file_, ec);
}

std::string Autostart::entryText() const {
    std::string exec;
    for (const std::string& argument : command_) {
        if (!exec.empty()) exec += ' ';
        exec += desktopExecArgument(argument);
    }
    return std::string(entryHead) + "Exec=" + exec + "\n";
}

std::string Autostart::set(bool on) const {
    std::error_code ec;
    if (!on) {
        if (!std::filesystem::remove(file_, ec) && ec) return "cannot remove " + file_ + ": " + ec.message();
        return {};
    }
    const std::filesystem::path folder = std::filesystem::path(file_).parent_path();
    std::filesystem::create_directories(folder, ec);
    if (ec) return "cannot create " + folder.string() + ": " + ec.message();
    const std::string temp = file_ + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << entryText();
        out.close();
        if (!out) {
            std::filesystem::remove(temp, ec);
            return "cannot write " + temp;
        }
    }
    std::filesystem::rename(temp, file_, ec);
    if (ec) return "cannot write " + file_ + ": " + ec.message();
    return {};
}

}  // namespace taltrix::app
