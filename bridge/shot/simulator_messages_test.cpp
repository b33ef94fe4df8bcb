#include <gtest/gtest.h>

#include <string>

#include "bridge/shot/pair_splitter.h"
#include "bridge/shot/sim_message_interpreter.h"
#include "bridge/shot/simulator_receivers.h"
#include "tests/support/shot_fakes.h"

namespace taltrix {
namespace {

constexpr std::string_view clubChange =
    R"({"protocol":"HXSDK", "INFO":{"status":"150", "playerName":"MyName", "playerClub":"DR", )"
    R"("playerHand":"RH", "playerDistanceToFlag":"110", "playerSurface":"rough"}})";

std::string sdk(std::string_view rows) { return R"({"protocol":"HXSDK", "INFO":{)" + std::string(rows) + "}}"; }
std::string hxp(std::string_view rows) { return R"({"protocol":"HXP", "DATA":{)" + std::string(rows) + "}}"; }

TEST(PairSplitter, FlattensTheMessageIntoRows) {
    const PairTable rows = PairSplitter::split(clubChange);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"protocol", "HXSDK"},     {"status", "150"},    {"playerName", "MyName"},
        {"playerClub", "DR"},      {"playerHand", "RH"}, {"playerDistanceToFlag", "110"},
        {"playerSurface", "rough"}};
    ASSERT_EQ(rows.size(), expected.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].key, expected[i].first);
        EXPECT_EQ(rows[i].value, expected[i].second);
    }
}

TEST(PairSplitter, KeepsBlanksDropsPrefixAndExtraParts) {
    PairTable rows = PairSplitter::split(R"(#json {"protocol":"HXSDK", "status": "150", "t":"12:30:00"})");
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].value, "HXSDK");
    EXPECT_EQ(rows[1].value, " 150");
    EXPECT_EQ(rows[2].value, "12");
    EXPECT_TRUE(PairSplitter::split("").empty());
    EXPECT_TRUE(PairSplitter::split("   \r\n").empty());
    // Without a colon in the first pair the table has no value column.
    rows = PairSplitter::split(R"("protocol","status":"150")");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].key, "status");
    EXPECT_EQ(rows[1].value, "");
}

class InterpreterTest : public ::testing::Test {
protected:
    SimulatorState state;
    testing::RecordingStatus status;
    bool interpret(std::string_view text) {
        return SimMessageInterpreter::interpret(PairSplitter::split(text), state, status);
    }
};

TEST_F(InterpreterTest, ReadsTgcClubChange) {
    EXPECT_TRUE(interpret(clubChange));
    EXPECT_EQ(state.currentClub, "DR");
    EXPECT_DOUBLE_EQ(state.distanceYards, 110);
    EXPECT_DOUBLE_EQ(state.distanceMetres, 100.58);
    EXPECT_TRUE(state.rightHanded);
    EXPECT_EQ(state.playerName, "MyName");
    EXPECT_EQ(state.sdkStatus, "150");
    EXPECT_EQ(state.surface, "Tee");  // lower-case r is no surface letter
}

TEST_F(InterpreterTest, SurfaceLettersAndFractions) {
    const std::pair<const char*, const char*> surfaces[] = {
        {"Green", "Green"},      {"Fairway", "Fairway"}, {"Sand", "Bunker"}, {"Light", "Rough"}, {"Rough", "Rough"},
        {"Heavy", "High Rough"}, {"Tee", "Tee"},         {"", "Tee"},        {"_Green", "Green"}};
    for (const auto& [given, stored] : surfaces) {
        EXPECT_TRUE(interpret(sdk(std::string(R"("playerSurface":")") + given + "\"")));
        EXPECT_EQ(state.surface, stored) << given;
    }
    EXPECT_TRUE(interpret(sdk(R"("playerDistanceToFlag":"110.7", "playerClub":"LW.x", "playerHand":"LH")")));
    EXPECT_DOUBLE_EQ(state.distanceYards, 110);
    EXPECT_EQ(state.currentClub, "LW");
    EXPECT_FALSE(state.rightHanded);
}

TEST_F(InterpreterTest, RejectsAndKeepsWhatCameBefore) {
    EXPECT_FALSE(interpret(sdk(R"("status":"300")")));
    EXPECT_FALSE(interpret(sdk(R"("status": "150")")));  // a blank before the value
    EXPECT_FALSE(interpret(sdk(R"("status":"150", "playerDistanceToFlag":"far", "playerClub":"I7")")));
    EXPECT_EQ(state.sdkStatus, "150");
    EXPECT_EQ(state.currentClub, "");  // after the rejecting row: not read
    EXPECT_FALSE(interpret(""));
    EXPECT_FALSE(interpret(R"({"kind":"HXSDK"})"));
    EXPECT_FALSE(interpret(R"({"protocol":"HXSDKX"})"));
    EXPECT_TRUE(interpret(R"({"protocol":"H.X,SDK"})"));  // separators are dropped from the kind
    EXPECT_EQ(state.sdkStatus, "");                       // cleared by every message
}

TEST_F(InterpreterTest, ShowsFreeTextMessages) {
    EXPECT_TRUE(interpret(sdk(R"("status":"102", "message":"Welcome")")));
    EXPECT_TRUE(interpret(sdk(R"("status":"150", "message":"Club changed")")));  // replaced by the command result
    EXPECT_TRUE(interpret(hxp(R"("status":"200", "message":"Your turn")")));
    EXPECT_TRUE(interpret(R"({"protocol":"HYStatus", "status":"2.55", "message":"Hole 1"})"));
    EXPECT_EQ(state.infoStatus, 255);
    EXPECT_EQ(status.shown, (std::vector<std::string>{"Welcome", "Your turn", "Hole 1"}));
    EXPECT_FALSE(interpret(R"({"protocol":"HYStatus", "status":"abc"})"));
    EXPECT_FALSE(interpret(R"({"protocol":"HYStatus", "status":"99999"})"));
}

TEST_F(InterpreterTest, HalvexPlayGameAndPlayer) {
    EXPECT_TRUE(interpret(hxp(
        R"("status":"201", "gameName":" Lobby ", "playerName":" Anna ", "distanceToFlag":"25", "courseName":"X")")));
    EXPECT_EQ(state.gameName, "Lobby");
    EXPECT_EQ(state.playerName, "Anna");
    EXPECT_EQ(state.gameStatus, "201");
    EXPECT_DOUBLE_EQ(state.distanceYards, 25);
    EXPECT_FALSE(interpret(hxp(R"("status":"207")")));
    EXPECT_TRUE(
        interpret(R"({"protocol":"HYInfo", "club":"PWX", "hand":"RH", "distance":"42.5", "surface":"Fairway"})"));
    EXPECT_EQ(state.currentClub, "PW");
    EXPECT_DOUBLE_EQ(state.distanceMetres, 42);
    EXPECT_EQ(state.surface, "Fairway");
}

TEST_F(InterpreterTest, ControlAndDeviceMessages) {
    EXPECT_TRUE(interpret(R"({"protocol":"HXCONTROL", "COMMAND":"pause"})"));
    EXPECT_FALSE(state.quitRequested);
    EXPECT_TRUE(interpret(R"(#json {"protocol":"HXCONTROL", "COMMAND":"quit"})"));
    EXPECT_TRUE(state.quitRequested);
    EXPECT_EQ(status.shown.back(), "quit");
    EXPECT_TRUE(interpret(R"({"protocol":"HALVEX", "device":"EXT"})"));
    EXPECT_TRUE(interpret(R"({"protocol":"HALVEX", "device":"GC2"})"));
    EXPECT_FALSE(interpret(R"({"protocol":"HALVEX", "device":"ES16"})"));
}

TEST_F(InterpreterTest, TwoMessagesInOneTextRunTogether) {
    // Handed over in one piece, the last value of the first and the first
    // key of the second become one row, and the rest is read as TGC's.
    const std::string both = sdk(R"("playerClub":"I7")") + hxp(R"("playerClub":"DR")");
    const PairTable rows = PairSplitter::split(both);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].value, "I7protocol");
    EXPECT_TRUE(interpret(both));
    EXPECT_EQ(state.currentClub, "DR");
}

class TcpReceiverTest : public ::testing::Test {
protected:
    SimulatorState state;
    testing::RecordingStatus status;
    testing::RecordingWriter device;
    ClubCommandSender clubCommand{state, status, &device};
    bool socketOpen = true;
    TcpReceiver receiver{state, status, clubCommand, [this] { return socketOpen; }};
};

TEST_F(TcpReceiverTest, ClubChangeSendsTheClubCommand) {
    receiver.receive(std::string(clubChange) + "\r\n");
    EXPECT_EQ(device.written, (std::vector<std::string>{"CLUBDrvLOFT000"}));
    EXPECT_EQ(status.shown, (std::vector<std::string>{"Send: CLUBDrvLOFT000"}));
    EXPECT_EQ(status.latest, tgcDataReceivedText);
}

TEST_F(TcpReceiverTest, ReadyAndNotReadyFollowTheSocket) {
    socketOpen = false;
    receiver.receive(sdk(R"("status":"203")"));
    EXPECT_FALSE(state.tgcConnected);
    socketOpen = true;
    receiver.receive(sdk(R"("status":"203")"));
    EXPECT_TRUE(state.tgcConnected);
    EXPECT_EQ(status.shown.back(), tgcConnectedText);
    receiver.receive(sdk(R"("status":"205")"));
    EXPECT_FALSE(state.tgcConnected);
    EXPECT_EQ(status.shown.back(), tgcNotConnectedText);
}

TEST_F(TcpReceiverTest, RejectedClubChangeStillSendsTheClub) {
    state.currentClub = "I7";
    receiver.receive(sdk(R"("status":"150", "playerDistanceToFlag":"far")"));
    EXPECT_EQ(device.written, (std::vector<std::string>{"CLUB7IrLOFT000"}));
    EXPECT_EQ(status.shown, (std::vector<std::string>{"Send: CLUB7IrLOFT000", std::string(tgcInvalidDataText)}));
    EXPECT_EQ(status.latest, tgcInvalidDataText);
}

TEST_F(TcpReceiverTest, MessagesAreCutApartAndJoinedAcrossReads) {
    const std::string first = sdk(R"("status":"150", "playerClub":"I7")");
    const std::string second = sdk(R"("status":"150", "playerClub":"W2")");
    const std::string both = first + "\r\n" + second + "\r\n";
    receiver.receive(both.substr(0, first.size() + 10));
    EXPECT_EQ(device.written, (std::vector<std::string>{"CLUB7IrLOFT000"}));
    receiver.receive(both.substr(first.size() + 10));
    EXPECT_EQ(device.written, (std::vector<std::string>{"CLUB7IrLOFT000", "CLUB3WdLOFT000"}));
    EXPECT_EQ(status.latest, tgcDataReceivedText);  // nothing was rejected
}

TEST_F(TcpReceiverTest, TextWithoutBracesIsReadAsItStands) {
    receiver.receive("hello");
    EXPECT_EQ(status.shown, (std::vector<std::string>{std::string(tgcInvalidDataText)}));
    receiver.receive("\r\n");
    EXPECT_EQ(status.shown.size(), 1u);
}

class RelayReceiverTest : public ::testing::Test {
protected:
    SimulatorState state;
    testing::RecordingStatus status;
    testing::RecordingWriter device;
    ClubCommandSender clubCommand{state, status, &device};
    RelayReceiver receiver{state, status, clubCommand};
};

TEST_F(RelayReceiverTest, EveryAcceptedMessageResendsTheClub) {
    const std::string message = hxp(R"("status":"200", "playerClub":"I7")");
    receiver.receive(message);
    receiver.receive(R"({"protocol":"HYStatus", "status":"1"})");
    EXPECT_EQ(device.written, (std::vector<std::string>{"CLUB7IrLOFT000", "CLUB7IrLOFT000"}));
    EXPECT_EQ(status.shown.front(), std::string(relayDataReceivedText) + "\r\n" + message);
    EXPECT_EQ(status.shown[1], "Send: CLUB7IrLOFT000");
}

TEST_F(RelayReceiverTest, RejectedMessageSendsNothing) {
    receiver.receive(hxp(R"("status":"999", "playerClub":"I7")"));
    EXPECT_TRUE(device.written.empty());
    EXPECT_EQ(status.shown, (std::vector<std::string>{std::string(relayInvalidDataText)}));
    EXPECT_EQ(status.latest, relayInvalidDataText);
}

}  // namespace
}  // namespace taltrix
