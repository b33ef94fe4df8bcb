// The diagnostics bundle: one zip file a user attaches to a support request
// (tray menu "Diagnostics bundle…", or taltrix --diagnostics FILE.zip).
//
//   manifest.txt             when and how it was made, and what is in it
//   Settings.pgs             with the relay key masked
//   logs/...                 the log files of the program folder (debug.*)
//   status_trace.txt         the bridge's last status lines, with their times
//   versions.txt             Taltrix, Qt, OpenSSL, SQLite, libzip, the system
//   control_registration.txt the WebSocket control in the component registry
//   bluetooth.txt            the adapters and, from a running bridge, the link
//   last_shots.csv           the last 200 shots of the history (CSV export form)
//
// The relay key is masked in every file, wherever its text appears.
#pragma once

#include <string>
#include <vector>

#include "bridge/support/zip_writer.h"

namespace taltrix::support {

inline constexpr std::size_t bundledShots = 200;
inline constexpr std::size_t bundledStatusLines = 500;

struct DiagnosticsInput {
    std::string programFolder;
    std::string madeBy;       // what made it, for the manifest
    std::string bluetooth;    // the Bluetooth report
    std::string windowTrace;  // the window's numbered trace (Debug_mode), or ""
};

std::vector<BundleFile> diagnosticsFiles(const DiagnosticsInput& input);

// Collects the files and writes the zip; false with `error` when it cannot.
bool writeDiagnostics(const std::string& zipPath, const DiagnosticsInput& input, std::string& error);

}  // namespace taltrix::support
