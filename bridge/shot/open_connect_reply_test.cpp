#include "bridge/shot/open_connect_reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/shot/json_scalars.h"
#include "bridge/shot/open_connect_receiver.h"
#include "tests/support/shot_fakes.h"

namespace taltrix {
namespace {

TEST(JsonScalars, KeepsScalarsUnderTheirPathsAndWalksArraysWithoutKeeping) {
    const auto scalars =
        JsonScalars::read(R"( {"a":{"b":[1,{"c":2}],"d":"x\u00e9\u20ac\"\n"},"e":true,"a":{"f":null},"g":-1.5e2} )");
    ASSERT_TRUE(scalars.has_value());
    EXPECT_TRUE(scalars->isObject());
    EXPECT_EQ(scalars->size(), 4u);  // a.d, e, a.f, g; nothing from the array
    EXPECT_EQ(scalars->find("a.d")->text, "x\xE9?\"\n");
    EXPECT_EQ(scalars->find("e")->kind, JsonScalar::Kind::boolean);
    EXPECT_EQ(scalars->find("a.f")->kind, JsonScalar::Kind::null);
    EXPECT_EQ(scalars->find("g")->number, -150.0);
    EXPECT_EQ(scalars->find("a.b.c"), nullptr);
}

TEST(OpenConnectReply, ReadsEachKindOfReply) {
    struct Case {
        std::string text;
        int code;
        std::string message;
        std::optional<std::string> handed, club;
        std::optional<double> distance;
        std::optional<std::string> surface = {};
    };
    const Case cases[] = {
        {R"({"Code":200,"Message":"Shot received successfully"})", 200, "Shot received successfully", {}, {}, {}},
        {R"({"Code":201,"Message":"GSPro Player Information",)"
         R"("Player":{"Handed":"LH","Club":"W7","DistanceToTarget":152.37}})",
         201, "GSPro Player Information", "LH", "W7", 152.37},
        // Codes and distances written as text, nulls for what is not known,
        // keys the bridge does not read.
        {R"({ "Code" : "201", "Player" : {"Club":"PT","DistanceToTarget":"8.5","Handed":null,"Lie":"Green"} })",
         201,
         "",
         {},
         "PT",
         8.5},
        {R"({"Code":201,"Player":{"Club":"LW","Surface":"Green"}})", 201, "", {}, "LW", {}, "Green"},
        {R"({"Code":501,"Message":"Failure Occurred: no club","Player":null})",
         501,
         "Failure Occurred: no club",
         {},
         {},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<OpenConnectReply> reply = readOpenConnectReply(c.text);
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->code, c.code);
        EXPECT_EQ(reply->message, c.message);
        EXPECT_EQ(reply->handed, c.handed);
        EXPECT_EQ(reply->club, c.club);
        EXPECT_EQ(reply->distanceToTarget, c.distance);
        EXPECT_EQ(reply->surface, c.surface);
    }
    EXPECT_TRUE(readOpenConnectReply(R"({"Code":503})")->isError());
    EXPECT_FALSE(readOpenConnectReply(R"({"Code":201})")->isError());
}

TEST(OpenConnectReply, RefusesWhatCannotBeActedOn) {
    const std::string deep = std::string(JsonScalars::maxDepth, '[') + std::string(JsonScalars::maxDepth, ']');
    const std::vector<std::string> refused = {"",
                                              "200",
                                              R"([{"Code":200}])",
                                              R"({"Message":"no code"})",
                                              R"({"Code":200.5})",
                                              R"({"Code":-1})",
                                              R"({"Code":1000})",
                                              R"({"Code":"2x"})",
                                              R"({"Code":true})",
                                              R"({"Code":200,"Player":{"Club":7}})",
                                              R"({"Code":201,"Player":{"DistanceToTarget":"far"}})",
                                              R"({"Code":201,"Player":{"Surface":3}})",
                                              R"({"Code":200}})",
                                              R"({"Code":200,})",
                                              R"({"Code":01})",
                                              R"({"Code":200,"Message":"a)"
                                              "\n"
                                              R"(b"})",
                                              R"({"Code":1e999})",
                                              R"({"Code":200,"x":)" + deep + "}"};
    for (const std::string& text : refused) {
        EXPECT_FALSE(readOpenConnectReply(text).has_value()) << text;
    }
    // One level less is still read.
    const std::string deepest(JsonScalars::maxDepth - 1, '[');
    EXPECT_TRUE(
        readOpenConnectReply(R"({"Code":200,"x":)" + deepest + std::string(deepest.size(), ']') + "}").has_value());
}

TEST(OpenConnectClubs, EveryCodeOfTheProtocolReachesADeviceClub) {
    SimulatorState state;
    for (const char* code : {"DR", "W2", "W3", "W5", "I1", "I2", "I3", "I4", "I5", "I6", "I7",
                             "I8", "I9", "H2", "H3", "H4", "H5", "H6", "PW", "GW", "SW", "PT"}) {
        state.currentClub = std::string(clubTableCode(code));
        EXPECT_EQ(state.currentClub, code);
    }
    const std::pair<const char*, const char*> folded[] = {{"W4", "CLUB3WdLOFT000"},      {"W6", "CLUB5WdLOFT000"},
                                                          {"W7", "CLUB5WdLOFT000"},      {"H7", "CLUB5HyLOFT000"},
                                                          {"W1", "Club not recognized"}, {"dr", "Club not recognized"},
                                                          {"", "Club not recognized"}};
    for (const auto& [code, command] : folded) {
        state.currentClub = std::string(clubTableCode(code));
        EXPECT_EQ(clubCommandFor(state, maxChippingDistance), command) << code;
    }
}

class OpenConnectReceiverTest : public ::testing::Test {
protected:
    SimulatorState state;
    testing::RecordingStatus status;
    testing::RecordingWriter device;
    ClubCommandSender clubCommand{state, status, &device};
    OpenConnectReceiver receiver{state, status, clubCommand};
};

TEST_F(OpenConnectReceiverTest, GluedAndSplitRepliesAreEachRead) {
    receiver.receive(R"({"Code":200,"Message":"ok"}{"Code":201,"Player":{"Club":"I7"}}{"Code":201,"Pla)");
    receiver.receive(R"(yer":{"Club":"PW","Handed":"LH","DistanceToTarget":95}})");
    EXPECT_EQ(device.written, (std::vector<std::string>{"CLUB7IrLOFT000", "CLUBPtwLOFT000"}));
    EXPECT_EQ(status.shown.back(), "Send: CLUBPtwLOFT000");
    EXPECT_EQ(state.currentClub, "PW");
    EXPECT_FALSE(state.rightHanded);
    EXPECT_EQ(state.distanceYards, 95.0);
    EXPECT_EQ(state.distanceMetres, 86.87);

    // Readiness and the end of the round, glued, then one split in three.
    status.shown.clear();
    receiver.receive(R"({"Code":202,"Message":"Ready"}{"Code":203,"Message":"Round ended"})");
    receiver.receive(R"({"Co)");
    receiver.receive(R"(de":202,"Message":"Re)");
    receiver.receive(R"(ady"})");
    EXPECT_EQ(status.shown,
              (std::vector<std::string>{std::string(openConnectReadyText), std::string(openConnectRoundEndedText),
                                        std::string(openConnectReadyText)}));
}

// With a lie the lob wedge follows it as it follows TGC's: never chipping on
// the green. Without one it goes by distance alone, whatever lie another
// simulator or an earlier reply left.
TEST_F(OpenConnectReceiverTest, ChippingFollowsTheSurfaceWhenThereIsOne) {
    clubCommand.setChippingDistance(30);
    struct Case {
        const char* reply;
        const char* command;
        const char* surface;
    };
    const Case cases[] = {
        {R"({"Code":201,"Player":{"Club":"LW","DistanceToTarget":25,"Surface":"Green"}})", "CLUBLbwLOFT000", "Green"},
        {R"({"Code":201,"Player":{"DistanceToTarget":25,"Surface":"Fairway"}})", "CLUBChpLOFT000", "Fairway"},
        {R"({"Code":201,"Player":{"DistanceToTarget":25,"Surface":"Rough"}})", "CLUBChpLOFT000", "Rough"},
        {R"({"Code":201,"Player":{"DistanceToTarget":40,"Surface":"Fairway"}})", "CLUBLbwLOFT000", "Fairway"},
        {R"({"Code":201,"Player":{"DistanceToTarget":5,"Surface":"Green"}})", "CLUBLbwLOFT000", "Green"},
        {R"({"Code":201,"Player":{"DistanceToTarget":25}})", "CLUBChpLOFT000", ""},  // the green is forgotten
        {R"({"Code":201,"Player":{"DistanceToTarget":30}})", "CLUBChpLOFT000", ""},
        {R"({"Code":201,"Player":{"DistanceToTarget":30.01}})", "CLUBLbwLOFT000", ""},
        {R"({"Code":201,"Player":{"Club":"SW","DistanceToTarget":12,"Surface":"Fairway"}})", "CLUBSdwLOFT000",
         "Fairway"},
    };
    state.surface = "Green";  // left by a simulator that sends lies
    for (const Case& c : cases) {
        receiver.receive(c.reply);
        EXPECT_EQ(device.written.back(), c.command) << c.reply;
        EXPECT_EQ(state.surface, c.surface) << c.reply;
    }
}

TEST_F(OpenConnectReceiverTest, EveryOtherReplyOnlyInforms) {
    struct Case {
        const char* reply;
        std::string latest;
        std::string shown;  // "" when nothing is shown
    };
    const Case cases[] = {
        {R"({"Code":200})", "Open Connect shot accepted. ", ""},
        {R"({"Code":202,"Message":"later"})", "Open Connect simulator ready. ", "Open Connect simulator ready. "},
        {R"({"Code":203})", "Open Connect round ended. ", "Open Connect round ended. "},
        {R"({"Code":204})", "Open Connect data received. ", ""},
        {R"({"Code":503,"Message":"Busy"})", "Open Connect error 503: Busy", "Open Connect error 503: Busy"},
        {"not json", "Non valid Open Connect data received from simulator. ",
         "Non valid Open Connect data received from simulator. "},
        {R"({"Code":201,"Player":{"Club":7}})", "Non valid Open Connect data received from simulator. ",
         "Non valid Open Connect data received from simulator. "},
    };
    for (const Case& c : cases) {
        status.shown.clear();
        receiver.receive(c.reply);
        EXPECT_EQ(status.latest, c.latest) << c.reply;
        EXPECT_EQ(status.shown, c.shown.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.shown})
            << c.reply;
    }
    EXPECT_TRUE(device.written.empty());
}

}  // namespace
}  // namespace taltrix
