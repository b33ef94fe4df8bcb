// The shot history: an SQLite database beside Settings.pgs ("History.sqlite"
// in the program folder) holding every shot the launch monitor sent, whether
// or not it reached a simulator, and the bridge's status lines.
//
// It is kept in write-ahead-log mode with full synchronisation: every shot is
// one transaction, on the disk when the insert returns, so that a crash or a
// power cut loses nothing that was stored and never leaves half a shot.
// Several connections may use it at once (the bridge's writer, the History
// window, taltrix --export-csv).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/history/shot_entry.h"

struct sqlite3;
struct sqlite3_stmt;

namespace taltrix::history {

inline constexpr std::string_view historyFileName = "History.sqlite";

// The history file of a program folder.
std::string historyPath(std::string_view programFolder);

// Which shots to read. Unset parts do not narrow the choice.
struct ShotQuery {
    std::optional<std::int64_t> session;
    std::optional<std::int64_t> fromMs;  // inclusive
    std::optional<std::int64_t> toMs;    // exclusive
    std::optional<std::size_t> last;     // only the newest this many
};

struct StatusLine {
    std::int64_t timeMs = 0;
    std::string text;  // UTF-8
};

class HistoryStore {
public:
    // Opens the history at `path` and brings its tables up to date. Without
    // `create`, a missing file is an error rather than a new history.
    static std::unique_ptr<HistoryStore> open(const std::string& path, bool create, std::string& error);
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Stores one shot in a transaction of its own and gives it its id. Its
    // texts are stored as they are: the writer hands them over in UTF-8.
    bool insert(ShotEntry& entry, std::string& error);
    // Stores status lines in one transaction and keeps only the newest
    // `keep` of them.
    bool insertStatusLines(const std::vector<StatusLine>& lines, std::size_t keep, std::string& error);

    // Oldest first; texts in UTF-8.
    std::vector<ShotEntry> shots(const ShotQuery& query, std::string& error);
    std::vector<StatusLine> lastStatusLines(std::size_t count, std::string& error);
    bool clearShots(std::string& error);
    // The number the latest numbered shot carried (Open Connect), nothing
    // when no shot kept one.
    std::optional<std::int64_t> lastShotNumber(std::string& error);

    int schemaVersion() const;
    const std::string& path() const { return path_; }

private:
    HistoryStore(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
    bool exec(const char* sql, std::string& error);

    sqlite3* db_;
    std::string path_;
    sqlite3_stmt* insertShot_ = nullptr;
};

}  // namespace taltrix::history
