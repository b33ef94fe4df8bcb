#include "bridge/history/shot_csv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <locale>

namespace taltrix::history {
namespace {

// A locale that writes numbers the German way, to show it changes nothing.
struct CommaDecimals : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
};

class ShotCsvTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        oldTz_ = tz != nullptr ? std::optional<std::string>(tz) : std::nullopt;
        ::setenv("TZ", "XYZ-2", 1);  // two hours ahead of UTC
        ::tzset();
        oldLocale_ = std::locale::global(std::locale(std::locale::classic(), new CommaDecimals));
    }
    void TearDown() override {
        std::locale::global(oldLocale_);
        if (oldTz_) {
            ::setenv("TZ", oldTz_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

private:
    std::optional<std::string> oldTz_;
    std::locale oldLocale_;
};

TEST_F(ShotCsvTest, OneShotAsARowWithDotsLocalTimeAndQuotedMessage) {
    ShotEntry e;
    e.timeMs = 1500;
    e.session = 0;
    e.simulator = "TGC";
    e.clubInPlay = "I7";
    e.shot.club = "7Ir";
    e.shot.ballSpeedMPH = 131.1;
    e.shot.ballAngle = 13;
    e.shot.backSpin = 4217;
    e.shot.sideSpin = -94;
    e.shot.spinAxis = -1;
    e.shot.smashFactor = 1.4;
    e.shot.version = "109";
    e.message = R"({"protocol":"HXLAUNCH",  "DATA":{"ballSpeedMPH":"131.1"}})";
    e.delivered = true;
    e.latencyUs = 61.26;
    e.outcome = ShotOutcome::simulatorNotReady;
    e.shotNumber = 12;
    const std::string csv = shotsCsv({e});
    const std::string header = csvHeader();
    ASSERT_EQ(csv.substr(0, header.size()), header);
    EXPECT_EQ(header.substr(0, 60), "time,session,simulator,club_in_play,device_club,ball_speed_m");
    EXPECT_EQ(csv.substr(header.size()),
              "1970-01-01T02:00:01.500+02:00,1970-01-01T02:00:00.000+02:00,TGC,I7,7Ir,131.1,0,0,0,13,4217,-94,-1,0,0,"
              "0,1.4,0,0,0,0,0,0,0,0,0,0,0,0,109,yes,61.3,"
              R"("{""protocol"":""HXLAUNCH"",  ""DATA"":{""ballSpeedMPH"":""131.1""}}")"
              ",simulator not ready,12\r\n");
    // The newer columns come last, so that the older ones keep their places.
    EXPECT_TRUE(header.ends_with(",version,delivered,latency_us,message,outcome,shot_number\r\n")) << header;
}

TEST_F(ShotCsvTest, EveryColumnHasAHeaderAndUnknownDeliveryIsEmpty) {
    ShotEntry e;
    e.message = "plain";
    const std::string row = csvRow(e);
    const auto commas = [](const std::string& s) { return std::count(s.begin(), s.end(), ','); };
    EXPECT_EQ(commas(row), commas(csvHeader()));
    EXPECT_TRUE(row.ends_with(",0,,,0.0,plain,,\r\n")) << row;
}

}  // namespace
}  // namespace taltrix::history
