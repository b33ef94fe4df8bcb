// The history's tables, one numbered step per change of them. A database
// carries the number of the last step it has had (SQLite's user_version);
// opening it runs the steps it has not had yet, each in a transaction of its
// own, so that an older history is brought up to date and a cut-off upgrade
// leaves it as it was before that step.
#pragma once

#include <span>
#include <string>
#include <string_view>

struct sqlite3;

namespace taltrix::history {

struct Migration {
    int version;           // user_version once this step has run
    std::string_view sql;  // the statements of the step
};

// Every step since the first history, oldest first. Never change a step
// that has shipped: add one.
std::span<const Migration> historyMigrations();

// Runs the steps of `steps` that `db` has not had. A database from a newer
// Taltrix (a version beyond the last step) is left alone and refused.
// Returns false with `error` set when a step or the check fails.
bool migrate(sqlite3* db, std::span<const Migration> steps, std::string& error);

// The database's user_version, or -1 when it cannot be read.
int schemaVersion(sqlite3* db);

}  // namespace taltrix::history
