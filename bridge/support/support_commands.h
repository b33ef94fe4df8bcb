// The runs of taltrix that do one job and exit: --export-csv and
// --diagnostics; and what --help says of the history.
#pragma once

#include <optional>
#include <string>

#include "bridge/command_line.h"

namespace taltrix::support {

// --home, the per-user folder of an installed Taltrix, or the folder of
// the executable (bridge/app/program_folder.h).
std::string programFolderOf(const CommandLine& options);

// The lines --help adds: where the history of this program folder is.
std::string historyHelpText(const CommandLine& options);

// Why the history, recording or diagnostics options cannot be used, or ""
// (an unreadable --since, a --record file that cannot be created).
std::string checkSupportOptions(const CommandLine& options);

// --since DATE as milliseconds since 1970: YYYY-MM-DD (the start of that
// local day) or YYYY-MM-DDTHH:MM[:SS] (local time); nothing when unreadable.
std::optional<std::int64_t> parseSince(const std::string& text);

// taltrix --export-csv FILE [--since DATE]: 0, or 1 with the reason on
// standard error.
int runExportCsv(const CommandLine& options);

// taltrix --diagnostics FILE.zip: 0, or 1 with the reason on standard error.
int runDiagnostics(const CommandLine& options, int& argc, char** argv);

}  // namespace taltrix::support
