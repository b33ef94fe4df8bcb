// Starting Taltrix with the desktop session, by the user's choice: an entry
// in $XDG_CONFIG_HOME/autostart (by default ~/.config/autostart) that starts
// Taltrix hidden. Off until the user turns it on, with `taltrix --autostart
// on` or the tray menu.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace taltrix::app {

inline constexpr const char* autostartFileName = "taltrix.desktop";

class Autostart {
public:
    // `command`: the program and its arguments as the session should start
    // them (the option that starts hidden among them). `configFolder`: the
    // user's XDG config folder, where the autostart folder is.
    Autostart(std::vector<std::string> command, const std::string& configFolder);

    // The entry for this process: the running executable, started hidden,
    // with its --home when one was given.
    static Autostart forThisProcess(const std::optional<std::string>& home);

    const std::string& file() const { return file_; }
    bool isOn() const;
    // Writes or removes the entry. Returns "" or why it could not.
    std::string set(bool on) const;
    // The entry's text.
    std::string entryText() const;

private:
    std::vector<std::string> command_;
    std::string file_;
};

// The Exec line's form of one argument, quoted as desktop entries want where
// it needs it.
std::string desktopExecArgument(const std::string& argument);

}  // namespace taltrix::app
