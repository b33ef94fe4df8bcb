#include "bridge/support/diagnostics_bundle.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "bridge/history/history_store.h"
#include "bridge/history/history_writer.h"
#include "bridge/history/shot_csv.h"
#include "bridge/support/environment_report.h"
#include "bridge/support/settings_mask.h"

namespace taltrix::support {

namespace {

constexpr std::string_view settingsFile = "Settings.pgs";
// A log rotates at 1.2 MB; anything far bigger is not one of ours.
constexpr std::uintmax_t largestLog = 8 * 1024 * 1024;

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool isLogFile(const std::filesystem::path& path) {
    // The logger's files: debug.log, or debug.001, debug.002, ...
    const std::string name = path.filename().string();
    if (name == "debug.log") return true;
    return name.size() > 6 && name.rfind("debug.", 0) == 0 &&
           std::all_of(name.begin() + 6, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::filesystem::path> logFiles(const std::string& folder) {
    std::vector<std::filesystem::path> logs;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        if (entry.is_regular_file(ec) && isLogFile(entry.path())) logs.push_back(entry.path());
    }
    std::sort(logs.begin(), logs.end());
    return logs;
}

// The status lines and the last shots, from the history; notes for the
// manifest when there is none.
void historyFiles(const std::string& folder, std::vector<BundleFile>& files, std::string& notes) {
    std::string error;
    auto store = history::HistoryStore::open(history::historyPath(folder), false, error);
    if (!store) {
        notes += "status_trace.txt, last_shots.csv: " + error + "\n";
        files.push_back({"status_trace.txt", ""});
        files.push_back({"last_shots.csv", history::csvHeader()});
        return;
    }
    std::string trace;
    for (const history::StatusLine& line : store->lastStatusLines(bundledStatusLines, error)) {
        trace += history::localTimeText(line.timeMs) + "  " + line.text + "\n";
    }
    files.push_back({"status_trace.txt", trace});
    history::ShotQuery newest;
    newest.last = bundledShots;
    const auto shots = store->shots(newest, error);
    files.push_back({"last_shots.csv", history::shotsCsv(shots)});
    notes += "last_shots.csv: " + std::to_string(shots.size()) + " shots\n";
    if (!error.empty()) notes += "history: " + error + "\n";
}

}  // namespace

std::vector<BundleFile> diagnosticsFiles(const DiagnosticsInput& input) {
    std::vector<BundleFile> files;
    std::string notes;
    const std::filesystem::path folder(input.programFolder);

    std::error_code ec;
    const std::filesystem::path settingsPath = folder / settingsFile;
    std::string key;
    if (std::filesystem::is_regular_file(settingsPath, ec)) {
        const std::string settings = readFile(settingsPath);
        key = relayKey(settings);
        files.push_back({std::string(settingsFile), maskSettings(settings)});
    } else {
        notes += "Settings.pgs: not there (" + settingsPath.string() + ")\n";
    }

    const auto logs = logFiles(input.programFolder);
    for (const auto& log : logs) {
        if (std::filesystem::file_size(log, ec) > largestLog) {
            notes += "logs/" + log.filename().string() + ": left out, larger than 8 MiB\n";
            continue;
        }
        files.push_back({"logs/" + log.filename().string(), readFile(log)});
    }
    if (logs.empty()) notes += "logs: none (file logging is off unless built with TALTRIX_STARTUP_LOG=ON)\n";

    historyFiles(input.programFolder, files, notes);
    if (!input.windowTrace.empty()) {
        for (BundleFile& file : files) {
            if (file.name == "status_trace.txt")
                file.bytes += "\nThe window's trace (Debug_mode), newest first:\n" + input.windowTrace;
        }
    }
    files.push_back({"versions.txt", versionsReport()});
    files.push_back({"control_registration.txt", controlRegistrationReport()});
    files.push_back({"bluetooth.txt", input.bluetooth});

    std::string manifest = "Taltrix diagnostics bundle\nmade " + history::localTimeText(history::nowMs()) + " by " +
                           input.madeBy + "\nprogram folder: " + input.programFolder + "\n\nfiles:\n";
    for (const BundleFile& file : files) manifest += "  " + file.name + "\n";
    manifest += "\nnotes:\n" + (notes.empty() ? std::string("  none\n") : notes);
    files.insert(files.begin(), BundleFile{"manifest.txt", manifest});

    for (BundleFile& file : files) file.bytes = maskSecret(file.bytes, key);
    return files;
}

bool writeDiagnostics(const std::string& zipPath, const DiagnosticsInput& input, std::string& error) {
    return writeZip(zipPath, diagnosticsFiles(input), error);
}

}  // namespace taltrix::support
