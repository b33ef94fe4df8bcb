#include "bridge/history/history_store.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include "bridge/history/history_schema.h"

namespace taltrix::history {

namespace {

constexpr int busyTimeoutMs = 5000;

// The columns of a shot in the order they are written and read.
std::string shotColumns() {
    std::string columns = "time_ms, session, simulator, club_in_play, device_club";
    for (const NumberField& field : shotNumbers) {
        columns += ", ";
        columns += field.column;
    }
    return columns + ", version, message, delivered, latency_us, outcome, shot_number";
}

std::size_t shotColumnCount() { return 5 + std::size(shotNumbers) + 6; }

class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) { sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr); }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() const { return statement_; }

private:
    sqlite3_stmt* statement_ = nullptr;
};

void bindText(sqlite3_stmt* statement, int index, const std::string& text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

std::string columnText(sqlite3_stmt* statement, int index) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
    return text != nullptr ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, index))) : "";
}

}  // namespace

std::string historyPath(std::string_view programFolder) {
    std::string path(programFolder);
    if (path.empty() || path.back() != '/') path += '/';
    return path + std::string(historyFileName);
}

std::unique_ptr<HistoryStore> HistoryStore::open(const std::string& path, bool create, std::string& error) {
    struct stat st {};
    if (!create && ::stat(path.c_str(), &st) != 0) {
        error = "there is no shot history at " + path;
        return nullptr;
    }
    sqlite3* db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        error = "cannot open the shot history " + path + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return nullptr;
    }
    std::unique_ptr<HistoryStore> store(new HistoryStore(db, path));
    sqlite3_busy_timeout(db, busyTimeoutMs);
    std::string reason;
    // The journal mode is written into the file: it is set only once the
    // schema is known to be ours, so that a newer Taltrix's history is left
    // exactly as it was.
    if (!store->exec("PRAGMA synchronous=FULL;", reason) || !migrate(db, historyMigrations(), reason) ||
        !store->exec("PRAGMA journal_mode=WAL;", reason)) {
        error = "cannot use the shot history " + path + ": " + reason;
        return nullptr;
    }
    return store;
}

HistoryStore::~HistoryStore() {
    sqlite3_finalize(insertShot_);
    sqlite3_close(db_);
}

bool HistoryStore::exec(const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message != nullptr ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    return false;
}

int HistoryStore::schemaVersion() const { return history::schemaVersion(db_); }

bool HistoryStore::insert(ShotEntry& entry, std::string& error) {
    if (insertShot_ == nullptr) {
        std::string marks = "?";
        for (std::size_t i = 1; i < shotColumnCount(); ++i) marks += ", ?";
        const std::string sql = "INSERT INTO shots (" + shotColumns() + ") VALUES (" + marks + ")";
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &insertShot_, nullptr) != SQLITE_OK) {
            error = sqlite3_errmsg(db_);
            return false;
        }
    }
    sqlite3_stmt* s = insertShot_;
    int i = 1;
    sqlite3_bind_int64(s, i++, entry.timeMs);
    sqlite3_bind_int64(s, i++, entry.session);
    bindText(s, i++, entry.simulator);
    bindText(s, i++, entry.clubInPlay);
    bindText(s, i++, entry.shot.club);
    for (const NumberField& field : shotNumbers) {
        if (field.real != nullptr) {
            sqlite3_bind_double(s, i++, entry.shot.*field.real);
        } else {
            sqlite3_bind_int(s, i++, entry.shot.*field.whole);
        }
    }
    bindText(s, i++, entry.shot.version);
    bindText(s, i++, entry.message);
    if (entry.delivered) {
        sqlite3_bind_int(s, i++, *entry.delivered ? 1 : 0);
    } else {
        sqlite3_bind_null(s, i++);
    }
    sqlite3_bind_double(s, i++, entry.latencyUs);
    const std::string outcome(entry.outcome ? shotOutcomeText(*entry.outcome) : "");
    bindText(s, i++, outcome);
    if (entry.shotNumber) {
        sqlite3_bind_int(s, i++, *entry.shotNumber);
    } else {
        sqlite3_bind_null(s, i++);
    }
    const int result = sqlite3_step(s);
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    if (result != SQLITE_DONE) {
        error = sqlite3_errmsg(db_);
        return false;
    }
    entry.id = sqlite3_last_insert_rowid(db_);
    return true;
}

bool HistoryStore::insertStatusLines(const std::vector<StatusLine>& lines, std::size_t keep, std::string& error) {
    if (lines.empty()) return true;
    if (!exec("BEGIN IMMEDIATE", error)) return false;
    bool ok = true;
    {
        Statement insert(db_, "INSERT INTO status_lines (time_ms, line) VALUES (?, ?)");
        for (const StatusLine& line : lines) {
            sqlite3_bind_int64(insert.get(), 1, line.timeMs);
            bindText(insert.get(), 2, line.text);
            ok = sqlite3_step(insert.get()) == SQLITE_DONE;
            sqlite3_reset(insert.get());
            if (!ok) break;
        }
        Statement trim(db_, "DELETE FROM status_lines WHERE id <= (SELECT max(id) FROM status_lines) - ?");
        sqlite3_bind_int64(trim.get(), 1, static_cast<sqlite3_int64>(keep));
        ok = ok && sqlite3_step(trim.get()) == SQLITE_DONE;
    }
    if (!ok) {
        error = sqlite3_errmsg(db_);
        std::string ignored;
        exec("ROLLBACK", ignored);
        return false;
    }
    return exec("COMMIT", error);
}

std::vector<ShotEntry> HistoryStore::shots(const ShotQuery& query, std::string& error) {
    std::string sql = "SELECT id, " + shotColumns() + " FROM shots WHERE 1";
    if (query.session) sql += " AND session = :session";
    if (query.fromMs) sql += " AND time_ms >= :from";
    if (query.toMs) sql += " AND time_ms < :to";
    if (query.last) sql += " AND id IN (SELECT id FROM shots ORDER BY id DESC LIMIT :last)";
    sql += " ORDER BY id";
    Statement select(db_, sql);
    sqlite3_stmt* s = select.get();
    if (s == nullptr) {
        error = sqlite3_errmsg(db_);
        return {};
    }
    const auto bind = [s](const char* name, std::int64_t value) {
        sqlite3_bind_int64(s, sqlite3_bind_parameter_index(s, name), value);
    };
    if (query.session) bind(":session", *query.session);
    if (query.fromMs) bind(":from", *query.fromMs);
    if (query.toMs) bind(":to", *query.toMs);
    if (query.last) bind(":last", static_cast<std::int64_t>(*query.last));

    std::vector<ShotEntry> entries;
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(s)) == SQLITE_ROW) {
        ShotEntry& e = entries.emplace_back();
        int i = 0;
        e.id = sqlite3_column_int64(s, i++);
        e.timeMs = sqlite3_column_int64(s, i++);
        e.session = sqlite3_column_int64(s, i++);
        e.simulator = columnText(s, i++);
        e.clubInPlay = columnText(s, i++);
        e.shot.club = columnText(s, i++);
        for (const NumberField& field : shotNumbers) field.set(e.shot, sqlite3_column_double(s, i++));
        e.shot.version = columnText(s, i++);
        e.message = columnText(s, i++);
        if (sqlite3_column_type(s, i) != SQLITE_NULL) e.delivered = sqlite3_column_int(s, i) != 0;
        ++i;
        e.latencyUs = sqlite3_column_double(s, i++);
        e.outcome = shotOutcomeFromText(columnText(s, i++));
        if (sqlite3_column_type(s, i) != SQLITE_NULL) e.shotNumber = sqlite3_column_int(s, i);
        ++i;
    }
    if (result != SQLITE_DONE) error = sqlite3_errmsg(db_);
    return entries;
}

std::vector<StatusLine> HistoryStore::lastStatusLines(std::size_t count, std::string& error) {
    Statement select(db_,
                     "SELECT time_ms, line FROM (SELECT id, time_ms, line FROM status_lines ORDER BY id DESC LIMIT ?) "
                     "ORDER BY id");
    std::vector<StatusLine> lines;
    if (select.get() == nullptr) {
        error = sqlite3_errmsg(db_);
        return lines;
    }
    sqlite3_bind_int64(select.get(), 1, static_cast<sqlite3_int64>(count));
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(select.get())) == SQLITE_ROW) {
        lines.push_back({sqlite3_column_int64(select.get(), 0), columnText(select.get(), 1)});
    }
    if (result != SQLITE_DONE) error = sqlite3_errmsg(db_);
    return lines;
}

bool HistoryStore::clearShots(std::string& error) { return exec("DELETE FROM shots", error); }

std::optional<std::int64_t> HistoryStore::lastShotNumber(std::string& error) {
    Statement select(db_, "SELECT shot_number FROM shots WHERE shot_number IS NOT NULL ORDER BY id DESC LIMIT 1");
    if (select.get() == nullptr) {
        error = sqlite3_errmsg(db_);
        return std::nullopt;
    }
    const int result = sqlite3_step(select.get());
    if (result == SQLITE_ROW) return sqlite3_column_int64(select.get(), 0);
    if (result != SQLITE_DONE) error = sqlite3_errmsg(db_);
    return std::nullopt;
}

}  // namespace taltrix::history
