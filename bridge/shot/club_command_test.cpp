#include "bridge/shot/club_command.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/shot_fakes.h"

namespace taltrix {
namespace {

class ClubCommandTest : public ::testing::Test {
protected:
    SimulatorState state;
    testing::RecordingStatus status;
    testing::RecordingWriter device;
    testing::RecordingRawBox rawBox;
    ClubCommandSender sender{state, status, &device, &rawBox};

    std::string sendFor(std::string club, std::string surface = "Fairway", double yards = 0) {
        state.currentClub = std::move(club);
        state.surface = std::move(surface);
        state.distanceYards = yards;
        return sender.send();
    }
};

TEST_F(ClubCommandTest, MapsSimulatorClubsToDeviceClubs) {
    const std::pair<const char*, const char*> table[] = {
        {"DR", "CLUBDrvLOFT000"}, {"W1", "CLUB3WdLOFT000"}, {"W2", "CLUB3WdLOFT000"}, {"W5", "CLUB5WdLOFT000"},
        {"H2", "CLUB2HyLOFT000"}, {"H6", "CLUB5HyLOFT000"}, {"I1", "CLUB2IrLOFT000"}, {"I7", "CLUB7IrLOFT000"},
        {"PT", "CLUBPttLOFT000"}, {"PW", "CLUBPtwLOFT000"}, {"SW", "CLUBSdwLOFT000"}, {"GW", "CLUBGpwLOFT000"}};
    for (const auto& [club, command] : table) {
        EXPECT_EQ(sendFor(club), std::string("Send: ") + command) << club;
        EXPECT_EQ(device.written.back(), command);
    }
}

TEST_F(ClubCommandTest, LobWedgeChipsOffTheGreenWithinTheDistance) {
    EXPECT_EQ(sendFor("LW", "Fairway", 25), "Send: CLUBChpLOFT000");
    EXPECT_EQ(sendFor("LW", "Green", 5), "Send: CLUBLbwLOFT000");
    sender.setChippingDistance(50);
    EXPECT_EQ(sendFor("LW", "Rough", 60), "Send: CLUBLbwLOFT000");
    EXPECT_EQ(sendFor("LW", "Rough", 50), "Send: CLUBChpLOFT000");
}

TEST_F(ClubCommandTest, UnknownClubsSendNothing) {
    for (const char* club : {"dr", "W4", "", "LWX"}) {
        EXPECT_EQ(sendFor(club), clubNotRecognized) << club;
    }
    EXPECT_TRUE(device.written.empty());
    EXPECT_TRUE(rawBox.text.starts_with("Club not recognized\r\n\r\n"));
}

TEST_F(ClubCommandTest, ReportsWriteFailures) {
    device.result = {5, ""};
    EXPECT_EQ(sendFor("I7"), "Error sending: CLUB7IrLOFT000");
    device.result = {0, "Not connected"};
    EXPECT_EQ(sendFor("I7"), "");
    EXPECT_EQ(status.shown, (std::vector<std::string>{"Error sending club info: Not connected"}));
    EXPECT_EQ(status.latest, "Error sending club info: Not connected");
    ClubCommandSender noLink(state, status);
    EXPECT_EQ(noLink.send(), "");
    EXPECT_TRUE(status.shown.back().starts_with("Error sending club info: "));
}

TEST_F(ClubCommandTest, RawBoxShowsCommandsOnTopOnlyWhenVisible) {
    rawBox.text = "old";
    sendFor("DR");
    EXPECT_EQ(rawBox.text, "CLUBDrvLOFT000\r\n\r\nold");
    rawBox.visible = false;
    sendFor("I7");
    EXPECT_EQ(rawBox.text, "CLUBDrvLOFT000\r\n\r\nold");
}

TEST(ChippingDistance, FromTheSetting) {
    EXPECT_DOUBLE_EQ(chippingDistanceFromSetting("250"), 250);
    EXPECT_DOUBLE_EQ(chippingDistanceFromSetting("1500"), 1000);
    EXPECT_DOUBLE_EQ(chippingDistanceFromSetting("999.5"), 1000);
    EXPECT_DOUBLE_EQ(chippingDistanceFromSetting("abc"), 1000);
    EXPECT_DOUBLE_EQ(chippingDistanceFromSetting("12.5"), 12);
    EXPECT_DOUBLE_EQ(chippingDistanceFromSetting("13.5"), 14);
}

}  // namespace
}  // namespace taltrix
