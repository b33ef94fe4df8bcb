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
};

struct CommandLineResult {
    CommandLine options;
    std::string error;  // empty when the arguments were understood
};

// Reads argv (without the program name). Never exits; errors come back as text.
CommandLineResult parseCommandLine(const std::vector<std::string>& args);

// The text printed for --help.
std::string usageText(const std::string& programName);

}  // namespace taltrix
