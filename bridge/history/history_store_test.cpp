#include "bridge/history/history_store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "bridge/app/test_support.h"
#include "bridge/history/club_averages.h"
#include "bridge/history/history_schema.h"
#include "bridge/history/history_writer.h"
#include "bridge/history/sample_shots.h"

namespace taltrix::history {
namespace {

using app::testing::TempFolder;

std::unique_ptr<HistoryStore> openOrFail(const std::string& path, bool create = true) {
    std::string error;
    auto store = HistoryStore::open(path, create, error);
    EXPECT_NE(store, nullptr) << error;
    return store;
}

std::vector<ShotEntry> read(HistoryStore& store, const ShotQuery& query = {}) {
    std::string error;
    auto entries = store.shots(query, error);
    EXPECT_EQ(error, "");
    return entries;
}

TEST(HistoryWriter, StoresWhatTheShotRoadSawInUtf8WithItsSession) {
    TempFolder home;
    const std::string path = historyPath(home.path().string());
    {
        HistoryWriter writer(openOrFail(path), 1700000000000);
        std::vector<std::int64_t> storedIds;
        writer.setStoredListener([&](const ShotEntry& entry) { storedIds.push_back(entry.id); });
        ShotRecord shot;
        shot.club = "7Ir";
        shot.ballSpeedMPH = 131.1;
        shot.backSpin = 4217;
        shot.version = "109";
        writer.shotRouted({shot, Simulator::HalvexPlay, "I7", "/launch {\"club\":\"I7\"}", false,
                           std::chrono::microseconds(42), ShotOutcome::simulatorNotReady, std::nullopt});
        writer.shotRouted({shot, Simulator::TGC, "", "{}", std::nullopt, std::chrono::microseconds(7),
                           ShotOutcome::sent, std::nullopt});
        writer.shotRouted({shot, Simulator::OpenConnect, "", "", false, std::chrono::microseconds(3),
                           ShotOutcome::simulatorNotConnected, std::nullopt});
        writer.shotRouted(
            {shot, Simulator::OpenConnect, "", "{}", true, std::chrono::microseconds(3), ShotOutcome::sent, 99000001});
        writer.postStatus("Connected to ES16");
        writer.postStatus("Caf\xe9 ready");  // Windows-1252
        writer.drain();
        EXPECT_EQ(writer.shotsStored(), 4u);
        EXPECT_EQ(writer.lastError(), "");
        EXPECT_EQ(storedIds, (std::vector<std::int64_t>{1, 2, 3, 4}));
        // Write-ahead logging is on while the history is open.
        EXPECT_TRUE(std::filesystem::exists(path + "-wal"));
    }
    auto store = openOrFail(path, false);
    const auto entries = read(*store);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_LT(entries[0].id, entries[1].id);
    EXPECT_EQ(entries[0].session, 1700000000000);
    EXPECT_EQ(entries[0].simulator, "HalvexPlay");
    EXPECT_EQ(entries[0].clubInPlay, "I7");
    EXPECT_EQ(entries[0].shot.club, "7Ir");
    EXPECT_EQ(entries[0].shot.ballSpeedMPH, 131.1);
    EXPECT_EQ(entries[0].shot.backSpin, 4217);
    EXPECT_EQ(entries[0].message, "/launch {\"club\":\"I7\"}");
    EXPECT_EQ(entries[0].delivered, std::optional<bool>(false));
    EXPECT_DOUBLE_EQ(entries[0].latencyUs, 42.0);
    EXPECT_EQ(entries[1].delivered, std::nullopt);
    EXPECT_EQ(entries[2].outcome, ShotOutcome::simulatorNotConnected);
    EXPECT_EQ(entries[2].shotNumber, std::nullopt);
    EXPECT_EQ(entries[3].outcome, ShotOutcome::sent);
    EXPECT_EQ(entries[3].shotNumber, 99000001);
    std::string error;
    EXPECT_EQ(store->lastShotNumber(error), 99000001);
    const auto lines = store->lastStatusLines(1, error);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "Caf\xc3\xa9 ready");
}

TEST(HistoryStore, ChoosesBySessionTimeAndNewestAndClears) {
    TempFolder home;
    auto store = openOrFail(historyPath(home.path().string()));
    std::vector<ShotEntry> shots = sampleShots(10, 1000000, 6);
    for (ShotEntry& e : sampleShots(20, 5000000, 4)) shots.push_back(e);
    std::string error;
    for (ShotEntry& e : shots) ASSERT_TRUE(store->insert(e, error)) << error;

    const auto query = [](std::optional<std::int64_t> session, std::optional<std::int64_t> from,
                          std::optional<std::int64_t> to, std::optional<std::size_t> last) {
        ShotQuery q;
        q.session = session, q.fromMs = from, q.toMs = to, q.last = last;
        return q;
    };
    const struct {
        ShotQuery query;
        std::size_t count;
        std::int64_t firstTime;
    } cases[] = {
        {query({}, {}, {}, {}), 10, 1000000},
        {query(20, {}, {}, {}), 4, 5000000},
        {query({}, 1040000, 1160000, {}), 3, 1040000},
        {query({}, {}, {}, 3), 3, 5040000},
        {query(10, {}, {}, 2), 0, 0},  // the newest two are another session's
    };
    for (const auto& c : cases) {
        const auto got = read(*store, c.query);
        ASSERT_EQ(got.size(), c.count);
        if (c.count > 0) {
            EXPECT_EQ(got.front().timeMs, c.firstTime);
        }
    }
    ASSERT_TRUE(store->clearShots(error)) << error;
    EXPECT_TRUE(read(*store).empty());
}

TEST(HistoryStore, AMissingFileIsNotCreatedUnlessAsked) {
    TempFolder home;
    std::string error;
    EXPECT_EQ(HistoryStore::open(home.file("History.sqlite"), false, error), nullptr);
    EXPECT_NE(error.find("no shot history"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(home.file("History.sqlite")));
}

TEST(HistoryStore, ShotsStoredBeforeACrashAreThere) {
    TempFolder home;
    const std::string path = historyPath(home.path().string());
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string error;
        auto store = HistoryStore::open(path, true, error);
        for (ShotEntry& e : sampleShots(1, 0, 5)) {
            if (!store || !store->insert(e, error)) ::_exit(3);
        }
        std::abort();  // no close, no checkpoint
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    auto store = openOrFail(path, false);
    EXPECT_EQ(read(*store).size(), 5u);
}

TEST(HistorySchema, StepsRunOnceInOrderAndANewerHistoryIsRefused) {
    TempFolder home;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(home.file("h.sqlite").c_str(), &db), SQLITE_OK);
    std::string error;
    ASSERT_TRUE(migrate(db, historyMigrations(), error)) << error;
    const int current = historyMigrations().back().version;
    EXPECT_EQ(schemaVersion(db), current);
    sqlite3_exec(db, "INSERT INTO status_lines (time_ms, line) VALUES (1, 'kept')", nullptr, nullptr, nullptr);

    std::vector<Migration> later(historyMigrations().begin(), historyMigrations().end());
    later.push_back({current + 1, "ALTER TABLE status_lines ADD COLUMN origin TEXT DEFAULT 'bridge';"});
    later.push_back({current + 2, "CREATE TABLE broken (;"});
    EXPECT_FALSE(migrate(db, later, error));
    EXPECT_NE(error.find("version " + std::to_string(current + 2)), std::string::npos) << error;
    // The good step stays done, the failed one left nothing behind.
    EXPECT_EQ(schemaVersion(db), current + 1);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT line, origin FROM status_lines", -1, &s, nullptr);
    ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)), "bridge");
    sqlite3_finalize(s);

    EXPECT_FALSE(migrate(db, historyMigrations(), error));
    EXPECT_NE(error.find("newer Taltrix"), std::string::npos) << error;
    sqlite3_close(db);
}

// Opening a history from a newer Taltrix writes nothing to it, not even
// this Taltrix's journal mode.
TEST(HistorySchema, ANewerHistoryIsRefusedUntouched) {
    TempFolder home;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(home.file("newer.sqlite").c_str(), &db), SQLITE_OK);
    const std::string newer = "CREATE TABLE later (x); PRAGMA user_version = " +
                              std::to_string(historyMigrations().back().version + 1);
    ASSERT_EQ(sqlite3_exec(db, newer.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    const std::string before = home.read("newer.sqlite");

    std::string error;
    EXPECT_EQ(HistoryStore::open(home.file("newer.sqlite"), false, error), nullptr);
    EXPECT_NE(error.find("newer Taltrix"), std::string::npos) << error;
    EXPECT_EQ(home.read("newer.sqlite"), before);
}

// A history of the first version kept only shots handed to a link: those
// that went out (or could not tell) were sent; why the others did not was
// not kept. None carried a number.
TEST(HistorySchema, OlderShotsGetTheOutcomeTheyHad) {
    TempFolder home;
    const std::string path = home.file("old.sqlite");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    std::string error;
    ASSERT_TRUE(migrate(db, historyMigrations().first(1), error)) << error;
    for (const char* delivered : {"1", "0", "NULL"}) {
        const std::string insert =
            "INSERT INTO shots (time_ms, session, simulator, club_in_play, device_club, ball_speed_mph, "
            "ball_speed_kmh, club_speed_mph, club_speed_kmh, launch_angle, back_spin, side_spin, spin_axis, "
            "ball_direction, club_path, club_face, smash_factor, value_cd, value_td, value_lda, value_aa, value_dl, "
            "value_mh, value_sc, value_st, value_spl, value_ht, value_bv, launch_code, version, message, delivered, "
            "latency_us) VALUES (1, 1, 'TGC', '', '7Ir', 131.1, 0, 0, 0, 13, 4217, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "
            "0, 0, 0, 0, 0, 0, 0, '109', '{}', " +
            std::string(delivered) + ", 1)";
        ASSERT_EQ(sqlite3_exec(db, insert.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    }
    sqlite3_close(db);

    auto store = openOrFail(path, false);
    EXPECT_EQ(store->schemaVersion(), historyMigrations().back().version);
    const auto entries = read(*store);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].outcome, ShotOutcome::sent);
    EXPECT_EQ(entries[1].outcome, std::nullopt);
    EXPECT_EQ(entries[2].outcome, ShotOutcome::sent);
    EXPECT_EQ(entries[0].shot.backSpin, 4217);
    EXPECT_EQ(store->lastShotNumber(error), std::nullopt);
    EXPECT_EQ(error, "");
}

TEST(ClubAverages, MeansPerClubFastestFirst) {
    std::vector<ShotEntry> shots(3);
    shots[0].shot.club = "7Ir", shots[0].shot.ballSpeedMPH = 100, shots[0].shot.backSpin = 6000;
    shots[1].shot.club = "7Ir", shots[1].shot.ballSpeedMPH = 110, shots[1].shot.backSpin = 7000;
    shots[2].clubInPlay = "DR", shots[2].shot.ballSpeedMPH = 150;
    const auto averages = clubAverages(shots);
    ASSERT_EQ(averages.size(), 2u);
    EXPECT_EQ(averages[0].club, "DR");
    EXPECT_EQ(averages[1].club, "7Ir");
    EXPECT_EQ(averages[1].shots, 2u);
    EXPECT_DOUBLE_EQ(averages[1].ballSpeedMph, 105);
    EXPECT_DOUBLE_EQ(averages[1].backSpin, 6500);
}

}  // namespace
}  // namespace taltrix::history
