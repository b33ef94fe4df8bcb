// Taltrix: bridge between an Ernest Sports ES16 launch monitor and a golf
// simulator. This file only picks the front end the options ask for.
#include <cstdio>
#include <string>
#include <vector>

#include "bridge/app/autostart.h"
#include "bridge/app/run_app.h"
#include "bridge/command_line.h"
#include "bridge/convert_command.h"
#include "bridge/links/bridge_links.h"
#include "bridge/support/support_commands.h"
#include "bridge/support/support_features.h"

namespace {

constexpr const char* versionText = "- Version 2.37";

}  // namespace

int main(int argc, char** argv) {
    const std::string program = argc > 0 ? argv[0] : "taltrix";
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const taltrix::CommandLineResult parsed = taltrix::parseCommandLine(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "taltrix: %s\nTry '%s --help'.\n", parsed.error.c_str(), program.c_str());
        return 2;
    }
    const taltrix::CommandLine& options = parsed.options;
    if (options.help) {
        std::fputs(taltrix::usageText(program).c_str(), stdout);
        std::fputs(taltrix::support::historyHelpText(options).c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("Taltrix %s\n", versionText);
        return 0;
    }
    if (options.autostart) {
        const bool on = *options.autostart == "on";
        const taltrix::app::Autostart entry = taltrix::app::Autostart::forThisProcess(options.home);
        if (const std::string problem = entry.set(on); !problem.empty()) {
            std::fprintf(stderr, "taltrix: %s\n", problem.c_str());
            return 1;
        }
        std::printf("%s %s\n", on ? "Taltrix starts with the session:" : "Taltrix no longer starts with the session:",
                    entry.file().c_str());
        return 0;
    }
    if (options.convert) {
        return taltrix::runConvert(options);
    }
    if (const std::string error = taltrix::links::checkLinkOptions(options); !error.empty()) {
        std::fprintf(stderr, "taltrix: %s\nTry '%s --help'.\n", error.c_str(), program.c_str());
        return 2;
    }
    if (const std::string error = taltrix::support::checkSupportOptions(options); !error.empty()) {
        std::fprintf(stderr, "taltrix: %s\nTry '%s --help'.\n", error.c_str(), program.c_str());
        return 2;
    }
    if (options.exportCsv) return taltrix::support::runExportCsv(options);
    if (options.diagnostics) return taltrix::support::runDiagnostics(options, argc, argv);
    return taltrix::app::runApplication(options, argc, argv, taltrix::support::makeLinksWithSupport);
}
