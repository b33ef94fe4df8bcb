// Where Taltrix keeps Settings.pgs, its logs, recordings and the history.
//
// A Taltrix run from its build tree or from a copied folder keeps all of it
// beside the executable, as it always has. An installed Taltrix cannot do
// that (its folder belongs to the system, and root could write it anyway), so
// it keeps a folder per user under the XDG data home instead:
// $XDG_DATA_HOME/taltrix, by default ~/.local/share/taltrix. Which one it is
// depends on how Taltrix got where it is: the install rules put a marker file
// in share/taltrix of the prefix, and only an executable with that marker at
// the installed place relative to itself counts as installed. --home wins
// over both.
#pragma once

#include <optional>
#include <string>

namespace taltrix::app {

enum class FolderKind {
    given,      // --home
    perUser,    // installed: under the user's XDG data home
    besideExe,  // build tree or portable copy
};

struct ProgramFolder {
    std::string path;
    FolderKind kind = FolderKind::besideExe;
};

// Looks an environment variable up: nothing when it is unset.
using Environment = std::optional<std::string> (*)(const char* name);
std::optional<std::string> processEnvironment(const char* name);

// An XDG base directory: `variable` when it names an absolute folder, else
// `belowHome` in the user's home (HOME, else the password database's).
std::string xdgBaseFolder(const char* variable, const char* belowHome, Environment environment);

// The marker's path relative to the executable's folder, as the install rules
// place it.
std::string installMarkerFromExecutable();

// The folder of the running executable (from /proc/self/exe), "." when the
// system does not say.
std::string executableFolder();

// Picks the folder, with the variables `environment` gives.
ProgramFolder chooseProgramFolder(const std::optional<std::string>& home, const std::string& executableFolder,
                                  Environment environment);

// The same for this process.
ProgramFolder programFolder(const std::optional<std::string>& home);

// Makes sure a per-user folder exists, creating it and any missing parents
// private to the user (mode 700) as the XDG base directories ask, since
// Settings.pgs holds the relay account key. Returns "" or why it could not.
std::string createPrivateFolder(const std::string& path);

// One line for --help: the folder in use and why it is that one.
std::string programFolderHelpLine(const ProgramFolder& folder);

}  // namespace taltrix::app
