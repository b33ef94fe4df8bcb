#include "bridge/shot/shot_converter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "bridge/shot/number_text.h"
#include "bridge/shot/observed_outlet.h"
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

// Open Connect's link builds its own message, so it is handed the record
// and the precise angles beside it.
class RecordingShotOutlet final : public ShotOutlet {
public:
    bool up = true;
    std::vector<double> launchAngles;
    std::vector<ShotOutcome> letGo;
    bool isUp() const override { return up; }
    void sendShot(const ShotRecord&, const PreciseShot& precise) override {
        launchAngles.push_back(precise.launchAngle);
    }
    void notSent(const ShotRecord&, ShotOutcome why) override { letGo.push_back(why); }
};

class PipelineTest : public ::testing::Test {
protected:
    SimulatorState state;
    testing::RecordingOutlet tgc;
    testing::RecordingOutlet relay;
    testing::CountingIndicator transmitLight;
    testing::RecordingStatus status;
    RecordingShotOutlet openConnect;
    ShotPipeline pipeline{state, SimulatorOutlets{&tgc, &relay, &transmitLight, &openConnect, &status}};
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

// A shot whose simulator is away is let go with its reason and a status
// line, never sent late; the lobby holds shots back without a word.
TEST_F(PipelineTest, EveryShotNotSentIsLetGoWithItsReason) {
    struct Case {
        Simulator simulator;
        bool up;
        std::string gameName;
        std::vector<ShotOutcome> letGo;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        {Simulator::TGC, false, "", {ShotOutcome::simulatorNotConnected}, {"Shot not sent: TGC is not connected"}},
        {Simulator::HalvexPlay,
         false,
         "Lobby",
         {ShotOutcome::simulatorNotConnected},
         {"Shot not sent: Halvex Play is not connected"}},
        {Simulator::HalvexPlay, true, "Lobby", {ShotOutcome::inTheLobby}, {}},
        {Simulator::OpenConnect,
         false,
         "",
         {ShotOutcome::simulatorNotConnected},
         {"Shot not sent: Open Connect is not connected"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(simulatorDisplayName(c.simulator)) + " " + c.gameName);
        tgc = {};
        relay = {};
        openConnect = {};
        status = {};
        transmitLight.count = 0;
        tgc.up = relay.up = openConnect.up = c.up;
        state.gameName = c.gameName;
        pipeline.setSimulator(c.simulator);
        pipeline.receiveChunk(exampleShot);
        EXPECT_EQ(c.simulator == Simulator::OpenConnect ? openConnect.letGo
                                                        : (c.simulator == Simulator::TGC ? tgc : relay).letGo,
                  c.letGo);
        EXPECT_EQ(status.shown, c.shown);
        EXPECT_EQ(transmitLight.count, 0);
        // The link comes back: only the next shot goes.
        tgc.up = relay.up = openConnect.up = true;
        state.gameName = "Pebble Creek";
        pipeline.receiveChunk(exampleShot);
        EXPECT_EQ(tgc.sent.size() + relay.sent.size() + openConnect.launchAngles.size(), 1u);
    }
}

TEST_F(PipelineTest, RelayMessagesCarryTheClubInPlay) {
    pipeline.setSimulator(Simulator::HalvexPlay);
    state.currentClub = "I7";
    pipeline.receiveChunk(exampleShot);
    ASSERT_EQ(relay.sent.size(), 1u);
    EXPECT_TRUE(relay.sent[0].starts_with(R"(/launch {"protocol":"HXP",  "DATA":{"club":"I7", )"));
    EXPECT_TRUE(tgc.sent.empty());
}

TEST_F(PipelineTest, OpenConnectGetsTheAnglesAsTheDeviceWroteThem) {
    pipeline.setSimulator(Simulator::OpenConnect);
    pipeline.receiveChunk(exampleShot);
    EXPECT_EQ(openConnect.launchAngles, std::vector<double>{13.1});
    EXPECT_EQ(transmitLight.count, 1);
    EXPECT_TRUE(tgc.sent.empty());
    EXPECT_TRUE(relay.sent.empty());
}

// Behind the observed outlet, the history hears of every shot with what
// became of it, whether the link took it or not.
TEST_F(PipelineTest, TheObserverHearsOfEveryShotWithItsOutcome) {
    testing::RecordingObserver history;
    const std::chrono::steady_clock::time_point lastByte = std::chrono::steady_clock::now();
    ObservedOutlet observed(Simulator::TGC, pipeline.lastShot(), state, lastByte);
    pipeline.setOutlets(SimulatorOutlets{observed.observe(&tgc, &history), nullptr, &transmitLight, nullptr, &status});
    struct Step {
        bool up, ready, writes;
        ShotOutcome outcome;
        std::optional<bool> delivered;
    };
    const Step steps[] = {
        {true, true, true, ShotOutcome::sent, true},
        {false, true, true, ShotOutcome::simulatorNotConnected, false},
        {true, false, true, ShotOutcome::simulatorNotReady, false},
        {true, true, false, ShotOutcome::sendFailed, false},
    };
    for (const Step& step : steps) {
        tgc.up = step.up;
        tgc.ready = step.ready;
        tgc.writes = step.writes;
        pipeline.receiveChunk(exampleShot);
    }
    ASSERT_EQ(history.seen.size(), std::size(steps));
    const std::string message = ShotConverter::convert(exampleRecord(), Simulator::TGC, "");
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(history.seen[i].outcome, steps[i].outcome);
        EXPECT_EQ(history.seen[i].delivered, steps[i].delivered);
        EXPECT_EQ(history.seen[i].message, message);
        EXPECT_EQ(history.seen[i].backSpin, 4217);
    }
    EXPECT_EQ(tgc.sent.size(), 1u);
    // The light blinks for every shot given to a connected TGC, ready or not.
    EXPECT_EQ(transmitLight.count, 3);
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
