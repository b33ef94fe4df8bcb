#include "control/websocket/close.h"

#include <gtest/gtest.h>

#include "control/websocket/utf8.h"

namespace morvane::websocket {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ClosePayload, ParsingGivesCodeAndReasonWithTheDefaultsOfTheProtocolText) {
    struct Case {
        Bytes payload;
        int code;
        std::string reason;
    };
    const Case cases[] = {
        {{}, 1000, "Normal Closure"},
        {{0x03, 0xE9}, 1001, "Going Away"},
        {{0x03, 0xE9, 'b', 'y', 'e'}, 1001, "bye"},
        {{0x0F, 0xA0, 'a', 0, 'b'}, 4000, "a"},  // the reason ends at a zero byte
        {{0x0F, 0xA0}, 4000, ""},                // no name for 4000
        {{0x03, 0xF1, 0}, 1009, "Message Too Big"},
        {{0x03}, 1005, "No Status Received"},  // one byte holds no code
    };
    for (const auto& c : cases) {
        const CloseRecord record = parseClosePayload(c.payload);
        EXPECT_EQ(record.code, c.code);
        EXPECT_EQ(record.reason, c.reason);
    }
}

TEST(ClosePayload, BuildingPutsTheCodeBigEndianAndKeepsTheFrameWithin125Bytes) {
    EXPECT_EQ(buildClosePayload(1000, "Normal Closure"),
              (Bytes{0x03, 0xE8, 'N', 'o', 'r', 'm', 'a', 'l', ' ', 'C', 'l', 'o', 's', 'u', 'r', 'e'}));
    EXPECT_EQ(buildClosePayload(4000, ""), (Bytes{0x0F, 0xA0}));
    EXPECT_EQ(buildClosePayload(1000, std::string(200, 'r')).size(), 125u);
    // A cut never splits a character: 61 two-byte characters fill 122 bytes.
    std::string accented;
    for (int i = 0; i < 70; ++i) accented += "\xC3\xA9";
    const Bytes cut = buildClosePayload(1000, accented);
    EXPECT_EQ(cut.size(), 2u + 122);
    EXPECT_TRUE(isValidUtf8(std::span(cut).subspan(2)));
}

TEST(ClosePayload, WhatDisconnectSends) {
    struct Case {
        long long code;
        std::string description;
        int sentCode;
        std::string sentReason;
    };
    const Case cases[] = {
        {-1, "", 1000, "Normal Closure"}, {1001, "", 1001, "Going Away"},      {4000, "", 4000, ""},
        {4000, "custom", 4000, "custom"}, {70000, "", 1000, "Normal Closure"},  // does not fit the frame's two bytes
    };
    for (const auto& c : cases) {
        const CloseRecord record = closeRecordToSend(c.code, c.description);
        EXPECT_EQ(record.code, c.sentCode) << c.code;
        EXPECT_EQ(record.reason, c.sentReason) << c.code;
    }
}

TEST(CloseCodeNames, KnownCodesHaveTheirNamesAndOthersNone) {
    EXPECT_EQ(closeCodeName(1015), "TLS Handshake Error");
    EXPECT_EQ(closeCodeName(1007), "Invalid Frame Payload Data");
    EXPECT_EQ(closeCodeName(1004), "");
    EXPECT_EQ(closeCodeName(3000), "");
}

// --- the state machine --------------------------------------------------------

TEST(CloseHandshake, ServerClosesFirstIsAnsweredWith1000AndReportsTheServersReason) {
    CloseHandshake close;
    close.beginConnecting();
    close.opened();
    const CloseAction action = close.closeReceived(Bytes{0x03, 0xE9});
    EXPECT_TRUE(action.sendClose);
    EXPECT_EQ(action.send.code, 1000);
    EXPECT_EQ(action.send.reason, "Normal Closure");
    EXPECT_TRUE(action.raiseCloseEvents);
    EXPECT_EQ(action.report.code, 1001);
    EXPECT_EQ(action.report.reason, "Going Away");
    EXPECT_TRUE(action.closeSocket);
    EXPECT_EQ(close.state(), ConnectionState::kClosed);
}

TEST(CloseHandshake, OwnCloseSendsTheRecordAndTheReplyReportsIt) {
    CloseHandshake close;
    close.opened();
    const CloseAction start = close.startClose(4000, "");
    EXPECT_TRUE(start.sendClose);
    EXPECT_EQ(start.send.code, 4000);
    EXPECT_EQ(start.send.reason, "");
    EXPECT_EQ(close.state(), ConnectionState::kClosing);
    // The server's own code does not matter: our record is reported.
    const CloseAction reply = close.closeReceived(Bytes{0x03, 0xE8});
    EXPECT_FALSE(reply.sendClose);
    EXPECT_TRUE(reply.raiseCloseEvents);
    EXPECT_EQ(reply.report.code, 4000);
    EXPECT_TRUE(reply.closeSocket);
    EXPECT_EQ(close.state(), ConnectionState::kClosed);
}

TEST(CloseHandshake, DisconnectOutsideTheOpenStateDoesNothing) {
    CloseHandshake close;
    EXPECT_FALSE(close.startClose(-1, "").sendClose);  // closed
    close.opened();
    close.startClose(-1, "");
    EXPECT_FALSE(close.startClose(-1, "").sendClose);  // closing
}

TEST(CloseHandshake, FailedUpgradeSends1002ButTheReplyReportsTheRecordAsItStood) {
    CloseHandshake close;
    close.beginConnecting();
    const CloseAction fail = close.failUpgrade();
    EXPECT_EQ(fail.send.code, 1002);
    EXPECT_EQ(fail.send.reason, "Protocol Error");
    const CloseAction reply = close.closeReceived({});
    EXPECT_EQ(reply.report.code, 1000);
    EXPECT_EQ(reply.report.reason, "Normal Closure");
}

TEST(CloseHandshake, TransportEndReportsGoingAwayOrTheOwnRecordByState) {
    struct Case {
        ConnectionState state;
        bool events;
        int code;
    };
    for (const Case& c : {Case{ConnectionState::kConnecting, true, 1001}, Case{ConnectionState::kOpen, true, 1001},
                          Case{ConnectionState::kClosing, true, 4001}, Case{ConnectionState::kClosed, false, 0}}) {
        CloseHandshake close;
        close.opened();
        close.startClose(4001, "mine");
        close.finish();
        if (c.state == ConnectionState::kConnecting) close.beginConnecting();
        if (c.state == ConnectionState::kOpen) close.opened();
        if (c.state == ConnectionState::kClosing) {
            close.opened();
            close.startClose(4001, "mine");
        }
        const CloseAction action = close.socketClosed();
        EXPECT_EQ(action.raiseCloseEvents, c.events);
        if (c.events) {
            EXPECT_EQ(action.report.code, c.code);
        }
        EXPECT_EQ(close.state(), ConnectionState::kClosed);
    }
}

TEST(CloseHandshake, ResetRestoresTheInitialRecord) {
    CloseHandshake close;
    close.opened();
    close.startClose(4000, "x");
    close.reset();
    EXPECT_EQ(close.state(), ConnectionState::kClosed);
    EXPECT_EQ(close.ownRecord().code, 1000);
    EXPECT_EQ(close.ownRecord().reason, "Normal Closure");
}

}  // namespace
}  // namespace morvane::websocket
