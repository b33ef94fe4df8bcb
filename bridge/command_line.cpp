#include "bridge/command_line.h"

#include <functional>
#include <map>

namespace taltrix {

namespace {

using ValueSetter = std::function<void(CommandLine&, std::string)>;

const std::map<std::string, ValueSetter>& valueOptions() {
    static const std::map<std::string, ValueSetter> options = {
        {"--export-csv", [](CommandLine& c, std::string v) { c.exportCsv = std::move(v); }},
        {"--since", [](CommandLine& c, std::string v) { c.since = std::move(v); }},
        {"--record", [](CommandLine& c, std::string v) { c.record = std::move(v); }},
        {"--diagnostics", [](CommandLine& c, std::string v) { c.diagnostics = std::move(v); }},
        {"--home", [](CommandLine& c, std::string v) { c.home = std::move(v); }},
        {"--bluetooth", [](CommandLine& c, std::string v) { c.bluetooth = std::move(v); }},
        {"--tgc", [](CommandLine& c, std::string v) { c.tgc = std::move(v); }},
        {"--relay-url", [](CommandLine& c, std::string v) { c.relayUrl = std::move(v); }},
        {"--sim", [](CommandLine& c, std::string v) { c.sim = std::move(v); }},
        {"--club", [](CommandLine& c, std::string v) { c.club = std::move(v); }},
        {"--answer", [](CommandLine& c, std::string v) { c.answer = std::move(v); }},
        {"--input", [](CommandLine& c, std::string v) { c.input = std::move(v); }},
        {"--autostart", [](CommandLine& c, std::string v) { c.autostart = std::move(v); }},
    };
    return options;
}

}  // namespace

CommandLineResult parseCommandLine(const std::vector<std::string>& args) {
    CommandLineResult result;
    CommandLine& c = result.options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string inlineValue;
        bool hasInlineValue = false;
        if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg.resize(eq);
            hasInlineValue = true;
        }
        if (arg == "-h" || arg == "--help") {
            c.help = true;
        } else if (arg == "--version") {
            c.version = true;
        } else if (arg == "--headless") {
            c.headless = true;
        } else if (arg == "--hidden") {
            c.hidden = true;
        } else if (arg == "--convert") {
            c.convert = true;
        } else if (auto it = valueOptions().find(arg); it != valueOptions().end()) {
            if (hasInlineValue) {
                it->second(c, inlineValue);
            } else if (i + 1 < args.size()) {
                it->second(c, args[++i]);
            } else {
                result.error = "option " + arg + " needs a value";
                return result;
            }
        } else {
            result.error = "unknown option: " + args[i];
            return result;
        }
    }
    if (c.sim && *c.sim != "TGC" && *c.sim != "HalvexPlay") {
        result.error = "--sim takes TGC or HalvexPlay, not \"" + *c.sim + "\"";
    } else if (c.convert && !c.sim) {
        result.error = "--convert needs --sim TGC or --sim HalvexPlay";
    } else if (!c.convert && (c.sim || c.club)) {
        result.error = "--sim and --club go with --convert";
    } else if (c.answer && *c.answer != "yes" && *c.answer != "no" && *c.answer != "cancel") {
        result.error = "--answer takes yes, no or cancel, not \"" + *c.answer + "\"";
    } else if (c.autostart && *c.autostart != "on" && *c.autostart != "off") {
        result.error = "--autostart takes on or off, not \"" + *c.autostart + "\"";
    }
    if (result.error.empty()) result.error = supportOptionsError(c);
    return result;
}

std::string supportOptionsError(const CommandLine& c) {
    if (c.since && !c.exportCsv) return "--since goes with --export-csv";
    if (c.exportCsv && c.diagnostics) return "--export-csv and --diagnostics are two separate runs";
    if ((c.exportCsv || c.diagnostics) && (c.convert || c.record)) {
        return "--export-csv and --diagnostics do not run the bridge: leave out --convert and --record";
    }
    if (c.record && c.convert) return "--record goes with the bridge, not with --convert";
    return {};
}

std::string usageText(const std::string& programName) {
    return "Usage: " + programName + R"( [OPTIONS]

Taltrix bridges an Ernest Sports ES16 launch monitor and a golf simulator
(TGC over TCP, Halvex Play through its relay service, or an Open Connect
simulator over TCP; Sim_software in Settings.pgs chooses).

Options:
  --headless              run without a window or tray icon; every status
                          message is written to standard output as one line
                          (CR, LF and \ written as \r, \n and \\); message
                          boxes go to standard error with their answers;
                          SIGINT or SIGTERM stops it cleanly
  --home DIR              program folder (Settings.pgs, log files, recordings
                          and the shot history live there); default: for an
                          installed Taltrix $XDG_DATA_HOME/taltrix (that is
                          ~/.local/share/taltrix), made private to the user;
                          otherwise the folder of the executable
  --hidden                start hidden: in the system tray, or minimised to
                          the task bar where the desktop has no tray yet
  --autostart on|off      start Taltrix hidden with the desktop session, or
                          no longer (writes or removes
                          $XDG_CONFIG_HOME/autostart/taltrix.desktop), and
                          exit; off unless turned on
  --bluetooth emulator:NAME@HOST:PORT[,NAME@HOST:PORT...]
                          use emulated launch monitors: discovery finds these
                          devices, and a connection is a TCP connection to
                          HOST:PORT carrying the serial stream
  --tgc HOST:PORT         TGC endpoint (default 127.0.0.1:3344)
  --relay-url URL         relay endpoint, overriding the one built from the
                          settings
  --convert --sim TGC|HalvexPlay [--club CODE]
                          read launch-monitor text from standard input and
                          write one simulator message per shot to standard
                          output; --club is the club the simulator last
                          reported (used by the Halvex Play form)
  --answer yes|no|cancel  answer every question box at once with this
                          (environment: TALTRIX_ANSWER); boxes with only an
                          OK button are answered OK. Without it the window
                          asks, and --headless answers no
  --input TEXT            enter TEXT in every input box at once (environment:
                          TALTRIX_INPUT). Without it the window asks, and
                          --headless (or --answer alone) cancels the box
  --version               print the version and exit
  -h, --help              print this help and exit

Shot history, recording and diagnostics:
  --export-csv FILE [--since DATE]
                          write the shots of the history (those from DATE on:
                          YYYY-MM-DD or YYYY-MM-DDTHH:MM, local time) to FILE
                          as CSV ("-": standard output), and exit
  --record FILE           keep every byte the launch monitor sends, with its
                          arrival time, in FILE (for a support request; the
                          ES16 emulator's --replay FILE plays it back)
  --diagnostics FILE.zip  write a diagnostics bundle for a support request
                          (settings with the relay key masked, logs, status
                          trace, versions, control registration, Bluetooth,
                          the last 200 shots), and exit
)";
}

}  // namespace taltrix
