// The WebSocket layer over the in-memory stream: the opening's order, the
// state the control reports, DataInText, and the close in both directions
// with the faults of the stream below.
#include "control/websocket/websocket_layer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "control/websocket/layer_stack.h"
#include "control/websocket/scripted_peer.h"

namespace morvane {
namespace {

using testing::LayerStack;
using testing::serverFrame;
using State = WebSocketLayer::State;

struct SentFrame {
    std::uint8_t opcode = 0;
    std::string payload;
};

// The first client frame in `bytes`, unmasked (short payloads only).
std::optional<SentFrame> firstFrame(std::string_view bytes) {
    if (bytes.size() < 6) return std::nullopt;
    const auto length = static_cast<std::size_t>(static_cast<std::uint8_t>(bytes[1]) & 0x7F);
    if (length > 125 || bytes.size() < 6 + length) return std::nullopt;
    SentFrame frame{static_cast<std::uint8_t>(bytes[0] & 0x0F), std::string(bytes.substr(6, length))};
    for (std::size_t i = 0; i < length; ++i) frame.payload[i] = static_cast<char>(frame.payload[i] ^ bytes[2 + i % 4]);
    return frame;
}

int closeCodeOf(const SentFrame& frame) {
    return (static_cast<std::uint8_t>(frame.payload[0]) << 8) | static_cast<std::uint8_t>(frame.payload[1]);
}

TEST(WebSocketLayerTest, OpeningRaisesItsEventsBeforeTheStateOpens) {
    LayerStack stack;
    stack.stream.setOneBytePerRead(true);
    std::vector<State> statesInConnected;
    bool connectedInConnected = false;
    stack.events.onConnected = [&] {
        statesInConnected.push_back(stack.webSocket.state());
        connectedInConnected = stack.webSocket.connected();
        // A handler may sign in at once: its message goes out behind the
        // request, before anything else.
        EXPECT_EQ(stack.webSocket.sendText("sign-in"), 0);
    };
    stack.open(serverFrame(true, 1, "welcome"));
    // The frame came in behind the answer; it arrives in the next turns.
    stack.stream.play();

    EXPECT_EQ(statesInConnected, std::vector<State>{State::Connecting});
    EXPECT_TRUE(connectedInConnected);
    std::vector<std::string> order;
    for (const auto& line : stack.events.log) {
        if (!line.starts_with("Header")) order.push_back(line);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"Status Websocket connection complete. 0 OK", "Connected 0 OK",
                                               "ReadyToSend", "DataIn 1 7 EOM"}));
    const auto signIn = firstFrame(stack.stream.written());
    ASSERT_TRUE(signIn);
    EXPECT_EQ(signIn->payload, "sign-in");
    EXPECT_EQ(stack.webSocket.state(), State::Open);
}

TEST(WebSocketLayerTest, AConnectionThatEndsInsideConnectedIsNotOpenedAfterwards) {
    LayerStack stack;
    stack.events.onConnected = [&] { stack.stream.close(10054); };
    stack.answerUpgrade();
    EXPECT_EQ(stack.webSocket.connect("ws://peer.test/"), 0);
    EXPECT_EQ(stack.webSocket.state(), State::Closed);
    EXPECT_FALSE(stack.webSocket.connected());
    EXPECT_TRUE(stack.events.logged("Disconnected 1001 Going Away"));
    EXPECT_EQ(stack.events.readyToSendCount, 0);
}

TEST(WebSocketLayerTest, ConnectedFollowsTheStateAndTheStream) {
    LayerStack stack;
    EXPECT_FALSE(stack.webSocket.connected());
    EXPECT_EQ(stack.webSocket.state(), State::Closed);
    EXPECT_EQ(stack.http.plainScheme(), "ws");
    EXPECT_EQ(stack.http.secureScheme(), "wss");

    std::optional<bool> duringHandshake;
    stack.events.onHeader = [&](const std::string&, const std::string&) {
        if (!duringHandshake) duringHandshake = stack.webSocket.connected();
    };
    stack.open();
    EXPECT_EQ(duringHandshake, true);
    EXPECT_TRUE(stack.webSocket.connected());

    // Closing: the close frame is out, the reply is not in.
    stack.context.waiter().setTimeout(0);
    ASSERT_EQ(stack.webSocket.disconnect(), 0);
    EXPECT_EQ(stack.webSocket.state(), State::Closing);
    EXPECT_TRUE(stack.stream.isConnected());
    EXPECT_FALSE(stack.webSocket.connected());

    stack.stream.peerSends(serverFrame(true, 8, std::string("\x03\xE8", 2)));
    stack.stream.play();
    EXPECT_EQ(stack.webSocket.state(), State::Closed);
    EXPECT_FALSE(stack.stream.isOpen());
    EXPECT_FALSE(stack.webSocket.connected());
}

TEST(WebSocketLayerTest, ReadingDataInTextTakesTheKeptPayloadAndDeliversWhatIsBuffered) {
    LayerStack stack;
    ASSERT_EQ(stack.set("SinglePacketMode=True"), 0);
    stack.open(serverFrame(true, 1, std::string("one\0two", 7)) + serverFrame(true, 1, "two") +
               serverFrame(true, 2, "three"));
    ASSERT_EQ(stack.events.data.size(), 1u);
    EXPECT_EQ(stack.setting("DataInEOM"), "True");
    EXPECT_FALSE(stack.http.acceptData());

    // No new bytes are needed: each read delivers (and keeps) the next.
    EXPECT_EQ(stack.setting("DataInText"), std::string("one\0two", 7));
    EXPECT_EQ(stack.events.data.size(), 2u);
    EXPECT_FALSE(stack.http.acceptData());
    EXPECT_EQ(stack.setting("DataInText"), "two");
    EXPECT_EQ(stack.setting("DataInText"), "three");
    EXPECT_TRUE(stack.http.acceptData());
    EXPECT_EQ(stack.setting("DataInText"), "");
    EXPECT_EQ(stack.events.data.size(), 3u);
}

TEST(WebSocketLayerTest, DisconnectStatusCodeMustFitTheFrameAndIsWhatGoesOut) {
    struct Case {
        std::string_view value;
        int setCode;
        int wireCode;
        std::string_view reason;
    };
    const Case cases[] = {
        {"70000", 380, 1000, "Normal Closure"},
        {"65536", 380, 1000, "Normal Closure"},
        {"65535", 0, 65535, ""},
        {"4000", 0, 4000, ""},
        {"1001", 0, 1001, "Going Away"},
        {"-7", 0, 1000, "Normal Closure"},
    };
    for (const Case& c : cases) {
        LayerStack stack;
        stack.open();
        stack.context.waiter().setTimeout(0);
        EXPECT_EQ(stack.set("DisconnectStatusCode=" + std::string(c.value)), c.setCode) << c.value;
        if (c.setCode != 0) {
            EXPECT_EQ(stack.context.lastErrorText(), "Value is out of range.");
            EXPECT_EQ(stack.setting("DisconnectStatusCode"), "-1");
        }
        ASSERT_EQ(stack.webSocket.disconnect(), 0) << c.value;
        const auto frame = firstFrame(stack.stream.written());
        ASSERT_TRUE(frame) << c.value;
        EXPECT_EQ(frame->opcode, 8);
        // One close, one record: the frame says what the record says.
        EXPECT_EQ(closeCodeOf(*frame), c.wireCode) << c.value;
        EXPECT_EQ(frame->payload.substr(2), c.reason) << c.value;
        EXPECT_EQ(stack.webSocket.closeRecord().code, c.wireCode) << c.value;
        EXPECT_EQ(stack.webSocket.closeRecord().reason, c.reason) << c.value;
        EXPECT_EQ(stack.setting("DisconnectStatusCode"), "-1");
    }
}

TEST(WebSocketLayerTest, AFailedDisconnectLeavesTheConnectionClosing) {
    {
        // The close frame cannot be written.
        LayerStack stack;
        stack.open();
        stack.stream.failSend(stack.stream.sends() + 1, 10054);
        EXPECT_EQ(stack.webSocket.disconnect(), 4002);
        EXPECT_EQ(stack.context.lastErrorText(), "[10054] Connection reset by peer");
        EXPECT_EQ(stack.webSocket.state(), State::Closing);
        EXPECT_TRUE(stack.stream.isConnected());
        EXPECT_EQ(stack.stream.closes(), 0);
    }
    {
        // The reply does not come within Timeout; when it comes later, it
        // still completes the close.
        LayerStack stack;
        stack.open();
        ASSERT_EQ(stack.set("TimeoutInMilliseconds=True"), 0);
        stack.context.waiter().setTimeout(60);
        EXPECT_EQ(stack.webSocket.disconnect(), 301);
        EXPECT_EQ(stack.context.lastErrorText(), "Timeout.");
        EXPECT_EQ(stack.webSocket.state(), State::Closing);
        EXPECT_TRUE(stack.stream.isConnected());

        stack.stream.peerSends(serverFrame(true, 8, std::string("\x03\xE8", 2)));
        stack.stream.play();
        EXPECT_EQ(stack.webSocket.state(), State::Closed);
        EXPECT_TRUE(stack.events.logged("Disconnected 1000 Normal Closure"));
    }
}

TEST(WebSocketLayerTest, TheEndOfTheStreamReportsItsErrorOnce) {
    struct Case {
        int code;
        std::string_view preset;
        std::string_view text;
    };
    const Case cases[] = {
        {10054, "", "[10054] Connection reset by peer"},
        {0, "", ""},
        // The firewall passage reports its own failure.
        {118, "", ""},
        // Something more telling was already said.
        {10054, "earlier", "earlier"},
    };
    for (const Case& c : cases) {
        LayerStack stack;
        stack.open();
        stack.context.clearLastError();
        if (!c.preset.empty()) stack.context.fail(1, c.preset);
        stack.stream.close(c.code);
        EXPECT_EQ(stack.context.lastErrorText(), c.text) << c.code;
        if (c.preset.empty() && c.code != 0 && c.code != 118) {
            EXPECT_EQ(stack.context.lastErrorCode(), c.code);
        }
        EXPECT_EQ(stack.webSocket.state(), State::Closed);
        EXPECT_TRUE(stack.events.logged("Disconnected 1001 Going Away")) << c.code;
        EXPECT_EQ(stack.events.count("Disconnected"), 1u);
    }
}

TEST(WebSocketLayerTest, AnAnswerCutByAResetReportsTheReset) {
    // A 200 whose body runs to the end of the connection, which breaks.
    LayerStack stack;
    stack.stream.peerSends("HTTP/1.1 200 OK\r\n\r\npartial body").peerCloses(10054);
    EXPECT_EQ(stack.webSocket.connect("ws://peer.test/"), 10054);
    EXPECT_EQ(stack.context.lastErrorText(), "[10054] Connection reset by peer");
    EXPECT_EQ(stack.webSocket.state(), State::Closed);
    EXPECT_FALSE(stack.events.logged("Status Websocket connection broken. 200 OK"));

    // Ended in order, the same answer is an ordinary refusal of the upgrade.
    LayerStack orderly;
    orderly.stream.peerSends("HTTP/1.1 200 OK\r\n\r\npartial body").peerCloses(0);
    EXPECT_EQ(orderly.webSocket.connect("ws://peer.test/"), 0);
    EXPECT_EQ(orderly.webSocket.state(), State::Closed);
    EXPECT_TRUE(orderly.events.logged("Status Websocket connection broken. 200 OK"));
}

// A long payload is announced as it arrives: first once, then growing, every
// piece the start of what DataIn then carries, the last one whole; short
// payloads and fragments not yet known whole are not announced.
TEST(WebSocketLayerTest, LongPayloadsAreAnnouncedOnTheirWayAndThenWhole) {
    std::string big(200000, 'b');
    for (std::size_t k = 0; k < big.size(); k += 1001) big[k] = static_cast<char>('a' + k % 26);
    const std::string_view view(big);
    struct AnnounceCase {
        const char* name;
        bool bufferMessage;
        std::string wire;
        std::vector<bool> announced;  // for each DataIn: whether its payload was announced
    };
    const AnnounceCase cases[] = {
        {"one long frame", false, serverFrame(true, 2, big), {true}},
        {"a short frame", false, serverFrame(true, 1, view.substr(0, 60000)), {false}},
        {"two long fragments, delivered as they come",
         false,
         serverFrame(false, 2, view.substr(0, 120000)) + serverFrame(true, 0, view.substr(120000)),
         {true, true}},
        {"two fragments, collected whole",
         true,
         serverFrame(false, 1, view.substr(0, 120000)) + serverFrame(true, 0, view.substr(120000)),
         {true}},
        {"a ping between long fragments, collected whole",
         true,
         serverFrame(false, 2, view.substr(0, 100000)) + serverFrame(true, 9, "p") +
             serverFrame(true, 0, view.substr(100000)),
         {true}},
    };
    for (const AnnounceCase& c : cases) {
        SCOPED_TRACE(c.name);
        LayerStack stack;
        ASSERT_EQ(stack.set(c.bufferMessage ? "BufferMessage=True" : "BufferMessage=False"), 0);
        stack.open();
        for (std::size_t at = 0; at < c.wire.size(); at += 30000) stack.stream.peerSends(c.wire.substr(at, 30000));
        stack.stream.play();
        ASSERT_EQ(stack.events.data.size(), c.announced.size());
        for (std::size_t i = 0; i < c.announced.size(); ++i) {
            const std::string& payload = stack.events.data[i].bytes;
            const std::vector<testing::Arrival>& arrivals = stack.events.arrivals[i];
            EXPECT_EQ(!arrivals.empty(), c.announced[i]) << "DataIn " << i;
            if (arrivals.empty()) continue;
            EXPECT_EQ(arrivals.back().soFar, payload) << "DataIn " << i;
            for (std::size_t k = 0; k < arrivals.size(); ++k) {
                EXPECT_EQ(arrivals[k].first, k == 0) << "DataIn " << i << ", call " << k;
                EXPECT_EQ(arrivals[k].total, payload.size()) << "DataIn " << i << ", call " << k;
                EXPECT_TRUE(payload.starts_with(arrivals[k].soFar)) << "DataIn " << i << ", call " << k;
                if (k > 0) {
                    EXPECT_GT(arrivals[k].soFar.size(), arrivals[k - 1].soFar.size()) << k;
                }
            }
        }
    }
}

}  // namespace
}  // namespace morvane
