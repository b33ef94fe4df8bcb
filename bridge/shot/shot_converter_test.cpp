#include "bridge/shot/shot_converter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/shot/number_text.h"
#include "bridge/shot/shot_parser.h"
#include "bridge/shot/shot_pipeline.h"
#include "tests/support/shot_fakes.h"

namespace taltrix {
namespace {

using testing::exampleShot;

ShotRecord exampleRecord() {
    ShotRecord record;
    ShotParser::parse(exampleShot, record);
    return record;
}

std::string code(const ShotRecord& r) { return formatInteger(r.launchCode); }

TEST(ShotConverter, TgcMessageIsExactToTheCharacter) {
    const ShotRecord r = exampleRecord();
    EXPECT_EQ(ShotConverter::convert(r, Simulator::TGC, "DR"),
              R"({"protocol":"HXLAUNCH",  "DATA":{"ballSpeedMPH":"131.1", "ballSpeedKMH":"210.9", )"
              R"("ballDirection":"-004.8", "ballAngle":"013.0", "spinAxis":"-001.0", "sideSpin":"-94", )"
              R"("backSpin":"4217", "clubSpeedMPH":"093.0", "clubSpeedKMH":"149.6", "clubFace":"0", )"
              R"("swingPath":"0",  "launchCode":")" +
                  code(r) + R"("}})");
}

TEST(ShotConverter, HalvexPlayCommandCarriesTheSimulatorsClub) {
    const ShotRecord r = exampleRecord();
    EXPECT_EQ(ShotConverter::convert(r, Simulator::HalvexPlay, "DR"),
              R"(/launch {"protocol":"HXP",  "DATA":{"club":"DR", "ballSpeedMPH":"131.1", )"
              R"("ballDirection":"-004.8", "ballAngle":"013.0", "spinAxis":"-001.0", "sideSpin":"-94", )"
              R"("backSpin":"4217",  "launchCode":")" +
                  code(r) + R"("}})");
    const std::string noClub = ShotConverter::convert(r, Simulator::HalvexPlay, "");
    EXPECT_NE(noClub.find(R"({"club":"", "ballSpeedMPH")"), std::string::npos) << noClub;
}

TEST(ShotConverter, FormatsDirectionsAndRoundsFaceAndPath) {
    ShotRecord r = exampleRecord();
    r.ballDirection = -13.3;
    r.clubFace = 2.5;
    r.swingPath = 3.5;
    std::string m = ShotConverter::convert(r, Simulator::TGC, "");
    EXPECT_NE(m.find(R"("ballDirection":"-013.3")"), std::string::npos);
    EXPECT_NE(m.find(R"("clubFace":"2", "swingPath":"4")"), std::string::npos);
    r.ballDirection = 0;
    r.clubFace = -2.5;
    m = ShotConverter::convert(r, Simulator::TGC, "");
    EXPECT_NE(m.find(R"("ballDirection":"000.0")"), std::string::npos);
    EXPECT_NE(m.find(R"("clubFace":"-2")"), std::string::npos);
}

TEST(ShotConverter, SimulatorSettingFallsBackToTgc) {
    EXPECT_EQ(simulatorFromSetting("HalvexPlay"), Simulator::HalvexPlay);
    EXPECT_EQ(simulatorFromSetting("halvexplay"), Simulator::TGC);
    EXPECT_EQ(simulatorFromSetting(""), Simulator::TGC);
    EXPECT_EQ(simulatorFromSetting("OpenConnect"), Simulator::OpenConnect);
    EXPECT_EQ(simulatorFromSetting("openconnect"), Simulator::TGC);
}

// Open Connect's link builds its own message, so it is handed the record.
class RecordingShotOutlet final : public ShotOutlet {
public:
    bool up = true;
    std::vector<double> ballSpeeds;
    bool isUp() const override { return up; }
    void sendShot(const ShotRecord& shot) override { ballSpeeds.push_back(shot.ballSpeedMPH); }
};

class PipelineTest : public ::testing::Test {
protected:
    SimulatorState state;
    testing::RecordingOutlet tgc;
    testing::RecordingOutlet relay;
    testing::CountingIndicator transmitLight;
    RecordingShotOutlet openConnect;
    ShotPipeline pipeline{state, SimulatorOutlets{&tgc, &relay, &transmitLight, &openConnect}};
};

TEST_F(PipelineTest, SameShotTwiceIsSentTwice) {
    pipeline.receiveChunk(exampleShot);
    pipeline.receiveChunk(exampleShot);
    ASSERT_EQ(tgc.sent.size(), 2u);
    EXPECT_EQ(tgc.sent[0], tgc.sent[1]);
    EXPECT_EQ(tgc.sent[0], ShotConverter::convert(exampleRecord(), Simulator::TGC, ""));
    EXPECT_TRUE(relay.sent.empty());
    EXPECT_EQ(transmitLight.count, 2);
}

TEST_F(PipelineTest, LinkDownSkipsTheShotWithoutBlinking) {
    tgc.up = false;
    pipeline.receiveChunk(exampleShot);
    EXPECT_TRUE(tgc.sent.empty());
    EXPECT_EQ(transmitLight.count, 0);
    tgc.up = true;
    pipeline.receiveChunk(exampleShot);
    EXPECT_EQ(tgc.sent.size(), 1u);  // the skipped shot is not sent late
}

TEST_F(PipelineTest, NothingGoesToTheRelayFromTheLobby) {
    pipeline.setSimulator(Simulator::HalvexPlay);
    state.currentClub = "I7";
    state.gameName = "Lobby";
    pipeline.receiveChunk(exampleShot);
    EXPECT_TRUE(relay.sent.empty());
    state.gameName = "Pebble Creek";
    pipeline.receiveChunk(exampleShot);
    ASSERT_EQ(relay.sent.size(), 1u);
    EXPECT_TRUE(relay.sent[0].starts_with(R"(/launch {"protocol":"HXP",  "DATA":{"club":"I7", )"));
    EXPECT_TRUE(tgc.sent.empty());
}

TEST_F(PipelineTest, OpenConnectGetsTheRecordWhileItsLinkIsUp) {
    pipeline.setSimulator(Simulator::OpenConnect);
    openConnect.up = false;
    pipeline.receiveChunk(exampleShot);
    EXPECT_EQ(transmitLight.count, 0);
    openConnect.up = true;
    pipeline.receiveChunk(exampleShot);
    EXPECT_EQ(openConnect.ballSpeeds, std::vector<double>{131.1});
    EXPECT_EQ(transmitLight.count, 1);
    EXPECT_TRUE(tgc.sent.empty());
    EXPECT_TRUE(relay.sent.empty());
}

}  // namespace
}  // namespace taltrix

namespace taltrix {
namespace {

TEST(ShotConverter, ClubTextGoesThroughTheSameRespacing) {
    // A blank right after a quote is dropped (once), a comma gains a blank.
    const ShotRecord r;
    const std::string m = ShotConverter::convert(r, Simulator::HalvexPlay, "  a,\" b");
    EXPECT_NE(m.find(R"({"club":" a, "b", "ballSpeedMPH")"), std::string::npos) << m;
}

}  // namespace
}  // namespace taltrix
