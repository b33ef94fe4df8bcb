#include "bridge/history/history_schema.h"

#include <sqlite3.h>

namespace taltrix::history {

namespace {

constexpr Migration migrations[] = {
    {1, R"(
CREATE TABLE shots (
    id INTEGER PRIMARY KEY,
    time_ms INTEGER NOT NULL,
    session INTEGER NOT NULL,
    simulator TEXT NOT NULL,
    club_in_play TEXT NOT NULL,
    device_club TEXT NOT NULL,
    ball_speed_mph REAL NOT NULL,
    ball_speed_kmh REAL NOT NULL,
    club_speed_mph REAL NOT NULL,
    club_speed_kmh REAL NOT NULL,
    launch_angle INTEGER NOT NULL,
    back_spin INTEGER NOT NULL,
    side_spin INTEGER NOT NULL,
    spin_axis REAL NOT NULL,
    ball_direction REAL NOT NULL,
    club_path REAL NOT NULL,
    club_face REAL NOT NULL,
    smash_factor REAL NOT NULL,
    value_cd REAL NOT NULL,
    value_td REAL NOT NULL,
    value_lda REAL NOT NULL,
    value_aa REAL NOT NULL,
    value_dl REAL NOT NULL,
    value_mh REAL NOT NULL,
    value_sc REAL NOT NULL,
    value_st REAL NOT NULL,
    value_spl REAL NOT NULL,
    value_ht REAL NOT NULL,
    value_bv REAL NOT NULL,
    launch_code INTEGER NOT NULL,
    version TEXT NOT NULL,
    message TEXT NOT NULL,
    delivered INTEGER,
    latency_us REAL NOT NULL
);
CREATE INDEX shots_by_time ON shots (time_ms);
CREATE INDEX shots_by_session ON shots (session);
CREATE TABLE status_lines (
    id INTEGER PRIMARY KEY,
    time_ms INTEGER NOT NULL,
    line TEXT NOT NULL
);
)"},
    // Every shot the launch monitor sent is kept, and what became of it.
    // Shots of older histories were kept only when handed to a link: those
    // that went out (or could not tell) were sent; why one did not go out
    // was not kept, so its outcome stays empty.
    {2, R"(
ALTER TABLE shots ADD COLUMN outcome TEXT NOT NULL DEFAULT '';
ALTER TABLE shots ADD COLUMN shot_number INTEGER;
UPDATE shots SET outcome = 'sent' WHERE delivered IS NULL OR delivered = 1;
)"},
};

bool run(sqlite3* db, const std::string& sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message != nullptr ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
}

}  // namespace

std::span<const Migration> historyMigrations() { return migrations; }

int schemaVersion(sqlite3* db) {
    sqlite3_stmt* statement = nullptr;
    int version = -1;
    if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        version = sqlite3_column_int(statement, 0);
    }
    sqlite3_finalize(statement);
    return version;
}

bool migrate(sqlite3* db, std::span<const Migration> steps, std::string& error) {
    const int version = schemaVersion(db);
    if (version < 0) {
        error = sqlite3_errmsg(db);
        return false;
    }
    const int newest = steps.empty() ? 0 : steps.back().version;
    if (version > newest) {
        error = "the history was written by a newer Taltrix (version " + std::to_string(version) + ", this one knows " +
                std::to_string(newest) + ")";
        return false;
    }
    for (const Migration& step : steps) {
        if (step.version <= version) continue;
        const std::string sql = "BEGIN IMMEDIATE;\n" + std::string(step.sql) +
                                "\nPRAGMA user_version = " + std::to_string(step.version) + ";\nCOMMIT;";
        if (!run(db, sql, error)) {
            std::string ignored;
            run(db, "ROLLBACK", ignored);
            error = "upgrading the history to version " + std::to_string(step.version) + ": " + error;
            return false;
        }
    }
    return true;
}

}  // namespace taltrix::history
