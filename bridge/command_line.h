// The options Taltrix understands. Other programs and our own tests drive
// Taltrix through these, so their spelling and meaning stay put.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace taltrix {

struct CommandLine {
    bool help = false;
    bool version = false;
    bool headless = false;                 // --headless
    bool hidden = false;                   // --hidden (start in the tray, or minimised)
    std::optional<std::string> autostart;  // --autostart on|off
    std::optional<std::string> home;       // --home DIR
    std::optional<std::string> bluetooth;  // --bluetooth emulator:NAME@HOST:PORT[,...]
    std::optional<std::string> tgc;        // --tgc HOST:PORT
    std::optional<std::string> relayUrl;   // --relay-url URL
    bool convert = false;                  // --convert
    std::optional<std::string> sim;        // --sim TGC|HalvexPlay (with --convert)
    std::optional<std::string> club;       // --club CODE (with --convert)
    std::optional<std::string> answer;     // --answer yes|no|cancel (preset box answer)
    std::optional<std::string> input;      // --input TEXT (preset input-box entry)
    std::vector<std::string> extra;        // options a front end may add later
    // Shot history, recording and diagnostics (bridge/support).
    std::optional<std::string> exportCsv;    // --export-csv FILE
    std::optional<std::string> since;        // --since DATE (with --export-csv)
    std::optional<std::string> record;       // --record FILE
    std::optional<std::string> diagnostics;  // --diagnostics FILE.zip
};

struct CommandLineResult {
    CommandLine options;
    std::string error;  // empty when the arguments were understood
};

// Reads argv (without the program name). Never exits; errors come back as text.
CommandLineResult parseCommandLine(const std::vector<std::string>& args);

// Why the history, recording and diagnostics options cannot go together, or "".
std::string supportOptionsError(const CommandLine& options);

// The text printed for --help.
std::string usageText(const std::string& programName);

}  // namespace taltrix
