#include "bridge/shot/open_connect_message.h"

#include <gtest/gtest.h>

#include <string>

#include "bridge/shot/shot_parser.h"
#include "tests/support/shot_fakes.h"

namespace taltrix {
namespace {

// Device text to message, worked out by hand from the ES16's fields:
// the device's own example (SP 4217, SPA -1 gives side spin -94; total
// spin sqrt(4217^2 + 94^2) = 4218.05), and a driver (LA 11.5 is kept as 12,
// halves to even; SPA +12.6 counts as 12, so side spin 12 x 2650 / 45 =
// 706.67 gives 707 and the total sqrt(2650^2 + 707^2) = 2742.69 gives 2743).
TEST(OpenConnectMessage, ShotsAsWorkedOutByHand) {
    struct Case {
        std::string device;
        std::int32_t shotNumber;
        std::string message;
    };
    const Case cases[] = {
        {std::string(testing::exampleShot), 1,
         R"({"DeviceID":"Taltrix ES16","Units":"Yards","ShotNumber":1,"APIversion":"1",)"
         R"("BallData":{"Speed":131.1,"SpinAxis":-1.0,"TotalSpin":4218,"BackSpin":4217,"SideSpin":-94,)"
         R"("HLA":-4.8,"VLA":13.0},"ClubData":{"Speed":93.0,"Path":0.0,"FaceToTarget":0.0},)"
         R"("ShotDataOptions":{"ContainsBallData":true,"ContainsClubData":true,"LaunchMonitorIsReady":true,)"
         R"("LaunchMonitorBallDetected":true,"IsHeartBeat":false}})"},
        {"ES16Prt001CS104.3BS151.2CD000.0TD000.0LA11.5SP02650SF1.45CLDrvSPA+12.6DIR+02.3LDA00.0AA+0.0DL00.0"
         "MH000.0SC+000.0ST+000.0CPTH-03.4CFAC+01.5SPL00.0HT00.00BV0.00VER109End",
         42,
         R"({"DeviceID":"Taltrix ES16","Units":"Yards","ShotNumber":42,"APIversion":"1",)"
         R"("BallData":{"Speed":151.2,"SpinAxis":12.0,"TotalSpin":2743,"BackSpin":2650,"SideSpin":707,)"
         R"("HLA":2.3,"VLA":12.0},"ClubData":{"Speed":104.3,"Path":-3.4,"FaceToTarget":1.5},)"
         R"("ShotDataOptions":{"ContainsBallData":true,"ContainsClubData":true,"LaunchMonitorIsReady":true,)"
         R"("LaunchMonitorBallDetected":true,"IsHeartBeat":false}})"},
    };
    for (const Case& c : cases) {
        ShotRecord shot;
        ASSERT_TRUE(ShotParser::parse(c.device, shot));
        EXPECT_EQ(openConnectShot(shot, c.shotNumber), c.message);
    }
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
