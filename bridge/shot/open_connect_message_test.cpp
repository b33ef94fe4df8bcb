#include "bridge/shot/open_connect_message.h"

#include <gtest/gtest.h>

#include <string>

#include "bridge/shot/shot_parser.h"
#include "tests/support/shot_fakes.h"

namespace taltrix {
namespace {

// Device text to message, worked out by hand from the ES16's fields, the
// angles as the device wrote them: the device's own example (LA 13.1; SP
// 4217 and SPA -1.4 give side spin -1.4 x 4217 / 45 = -131.2, so -131, and
// the total sqrt(4217^2 + 131^2) = 4219.03), and a driver (LA 11.5; SPA
// +12.6 gives side spin 12.6 x 2650 / 45 = 742 and the total
// sqrt(2650^2 + 742^2) = 2751.92).
TEST(OpenConnectMessage, ShotsAsWorkedOutByHand) {
    struct Case {
        std::string device;
        std::int32_t shotNumber;
        std::string message;
    };
    const Case cases[] = {
        {std::string(testing::exampleShot), 1,
         R"({"DeviceID":"Taltrix ES16","Units":"Yards","ShotNumber":1,"APIversion":"1",)"
         R"("BallData":{"Speed":131.1,"SpinAxis":-1.4,"TotalSpin":4219,"BackSpin":4217,"SideSpin":-131,)"
         R"("HLA":-4.8,"VLA":13.1},"ClubData":{"Speed":93.0,"Path":0.0,"FaceToTarget":0.0},)"
         R"("ShotDataOptions":{"ContainsBallData":true,"ContainsClubData":true,"LaunchMonitorIsReady":true,)"
         R"("LaunchMonitorBallDetected":true,"IsHeartBeat":false}})"},
        {"ES16Prt001CS104.3BS151.2CD000.0TD000.0LA11.5SP02650SF1.45CLDrvSPA+12.6DIR+02.3LDA00.0AA+0.0DL00.0"
         "MH000.0SC+000.0ST+000.0CPTH-03.4CFAC+01.5SPL00.0HT00.00BV0.00VER109End",
         42,
         R"({"DeviceID":"Taltrix ES16","Units":"Yards","ShotNumber":42,"APIversion":"1",)"
         R"("BallData":{"Speed":151.2,"SpinAxis":12.6,"TotalSpin":2752,"BackSpin":2650,"SideSpin":742,)"
         R"("HLA":2.3,"VLA":11.5},"ClubData":{"Speed":104.3,"Path":-3.4,"FaceToTarget":1.5},)"
         R"("ShotDataOptions":{"ContainsBallData":true,"ContainsClubData":true,"LaunchMonitorIsReady":true,)"
         R"("LaunchMonitorBallDetected":true,"IsHeartBeat":false}})"},
    };
    for (const Case& c : cases) {
        ShotRecord shot;
        PreciseShot precise;
        ASSERT_TRUE(ShotParser::parse(c.device, shot, precise));
        EXPECT_EQ(openConnectShot(shot, precise, c.shotNumber), c.message);
    }
}

// The record keeps the angles whole for the launch code; beside it the same
// parse keeps them as written, whatever their sign, padding or missing tags.
TEST(OpenConnectMessage, PreciseAnglesBesideTheRecord) {
    struct Case {
        std::string_view angles;  // LA and SPA as the device writes them
        std::int32_t ballAngle;
        double spinAxis;
        PreciseShot precise;
    };
    const Case cases[] = {
        {"LA13.1SP04217SF1.40CL5IrSPA-01.4", 13, -1, {13.1, -1.4}},
        {"LA16.5SP04217SF1.40CL5IrSPA+26.2", 16, 26, {16.5, 26.2}},
        {"LA09.0SP04217SF1.40CL5IrSPA+00.9", 9, 0, {9.0, 0.9}},
        {"LA13.1SP04217SF1.40CL5Ir", 13, 0, {13.1, 0}},  // no SPA: cleared like the record
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.angles);
        const std::string message = "ES16Prt001CS093.0BS131.1CD000.0TD000.0" + std::string(c.angles) +
                                    "DIR-04.8LDA00.0AA+0.0DL00.0MH000.0SC+000.0ST+000.0CPTH+00.0CFAC+00.0SPL00.0"
                                    "HT00.00BV0.00VER109End";
        ShotRecord shot;
        PreciseShot precise{99, 99};
        ASSERT_TRUE(ShotParser::parse(message, shot, precise));
        EXPECT_EQ(shot.ballAngle, c.ballAngle);
        EXPECT_EQ(shot.spinAxis, c.spinAxis);
        EXPECT_EQ(precise.launchAngle, c.precise.launchAngle);
        EXPECT_EQ(precise.spinAxis, c.precise.spinAxis);
    }
}

// Above the last number sent and the seconds since 2024, within 32 bits.
TEST(OpenConnectMessage, FirstShotNumberOfARun) {
    constexpr std::int64_t epoch = openConnectNumberEpoch;
    struct Case {
        std::optional<std::int64_t> lastSent;
        std::int64_t unixSeconds;
        std::int32_t first;
    };
    const Case cases[] = {
        {std::nullopt, epoch + 1000, 1001},  // no history: the clock
        {5, epoch + 1000, 1001},             // an old run's small numbers: the clock is higher
        {2000, epoch + 1000, 2001},          // a busy run went past the clock
        {std::nullopt, epoch - 50, 1},       // a clock before 2024
        {2147483646, epoch + 1000, 2147483647},
        {2147483647, epoch + 1000, 1},  // nothing above fits: start again
    };
    for (const Case& c : cases) {
        EXPECT_EQ(firstShotNumber(c.lastSent, c.unixSeconds), c.first) << c.lastSent.value_or(-1);
    }
    // Every later shot of the run by the same rule.
    EXPECT_EQ(nextShotNumber(41), 42);
    EXPECT_EQ(nextShotNumber(2147483647), 1);
}

TEST(OpenConnectMessage, HeartbeatCarriesReadinessAndNoBallData) {
    EXPECT_EQ(openConnectHeartbeat(0, false),
              R"({"DeviceID":"Taltrix ES16","Units":"Yards","ShotNumber":0,"APIversion":"1",)"
              R"("ShotDataOptions":{"ContainsBallData":false,"ContainsClubData":false,"LaunchMonitorIsReady":false,)"
              R"("LaunchMonitorBallDetected":false,"IsHeartBeat":true}})");
    EXPECT_EQ(openConnectHeartbeat(7, true),
              R"({"DeviceID":"Taltrix ES16","Units":"Yards","ShotNumber":7,"APIversion":"1",)"
              R"("ShotDataOptions":{"ContainsBallData":false,"ContainsClubData":false,"LaunchMonitorIsReady":true,)"
              R"("LaunchMonitorBallDetected":true,"IsHeartBeat":true}})");
}

}  // namespace
}  // namespace taltrix
