// Messages on the wire against scripted raw servers: every send path and
// length form, fragmentation both ways, pings, the close codes, queued
// output in non-blocking mode, and the cap on incoming messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <vector>

#include "control/websocket/recording_events.h"
#include "control/websocket/scripted_peer.h"
#include "control/websocket/whole_engine.h"

namespace morvane {
namespace {

using testing::ClientFrame;
using testing::PeerConnection;
using testing::RecordingEvents;
using testing::ScriptedPeer;
using testing::serverFrame;

using Engine = testing::WholeEngine;

std::span<const std::uint8_t> bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string pattern(std::size_t size) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return out;
}

std::string keyOf(const ClientFrame& frame) { return std::string(reinterpret_cast<const char*>(frame.key), 4); }

class FramingWireTest : public ::testing::Test {
protected:
    void SetUp() override { engine.setEventSink(&events); }

    // Serves one connection: the upgrade, then `script`.
    void serve(std::function<void(PeerConnection&)> script) {
        server.run([script = std::move(script)](ScriptedPeer& peer) {
            auto connection = peer.accept();
            if (connection->acceptUpgrade().empty()) return;
            script(*connection);
        });
        ASSERT_EQ(engine.connect(server.url()), 0) << engine.lastErrorText();
        ASSERT_EQ(engine.state(), WebSocketLayer::State::Open);
    }

    std::size_t receivedBytes() const {
        std::size_t total = 0;
        for (const auto& d : events.data) total += d.bytes.size();
        return total;
    }

    RecordingEvents events;
    Engine engine;
    ScriptedPeer server;
};

TEST_F(FramingWireTest, EachMessageTypeAndLengthForm) {
    std::vector<ClientFrame> frames;
    serve([&](PeerConnection& connection) {
        for (int i = 0; i < 5; ++i) {
            auto frame = connection.readFrame();
            if (!frame) return;
            frames.push_back(std::move(*frame));
        }
        connection.echoClose();
    });
    ASSERT_EQ(engine.send(bytes("0123456789")), 0);
    EXPECT_EQ(engine.bytesSent(), 10);
    ASSERT_EQ(engine.send(bytes(pattern(126))), 0);
    ASSERT_EQ(engine.send(bytes(pattern(65536))), 0);
    ASSERT_EQ(engine.send(bytes("\xff\xfe not UTF-8")), 0);
    ASSERT_EQ(engine.sendText("h\xc3\xa9llo"), 0);
    EXPECT_EQ(engine.bytesSent(), 6);
    ASSERT_EQ(engine.disconnect(), 0);
    server.join();

    ASSERT_EQ(frames.size(), 5u);
    struct Expected {
        std::uint8_t opcode;
        std::uint8_t lengthByte;
        std::string payload;
    };
    const Expected expected[] = {{1, 10, "0123456789"},
                                 {1, 126, pattern(126)},
                                 {1, 127, pattern(65536)},
                                 {2, 12, "\xff\xfe not UTF-8"},
                                 {1, 6, "h\xc3\xa9llo"}};
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(frames[i].fin);
        EXPECT_EQ(frames[i].rsv, 0);
        EXPECT_TRUE(frames[i].masked);
        EXPECT_EQ(frames[i].opcode, expected[i].opcode);
        EXPECT_EQ(frames[i].lengthByte, expected[i].lengthByte);
        EXPECT_TRUE(frames[i].payload == expected[i].payload);
    }
}

TEST_F(FramingWireTest, MaxFrameSizeFragmentsBlockingSendsAndSplitsNonBlockingOnes) {
    std::vector<ClientFrame> frames;
    serve([&](PeerConnection& connection) {
        for (int i = 0; i < 6; ++i) {
            auto frame = connection.readFrame();
            if (!frame) return;
            frames.push_back(std::move(*frame));
        }
        connection.echoClose();
    });
    engine.set("MaxFrameSize=4");
    ASSERT_EQ(engine.send(bytes("abcdefghij")), 0);
    EXPECT_EQ(engine.bytesSent(), 10);
    engine.setTimeout(0);
    ASSERT_EQ(engine.send(bytes("klmnopqrst")), 0);
    EXPECT_EQ(engine.bytesSent(), 10);
    // Each piece that went out at once is reported ready for more.
    EXPECT_GE(events.readyToSendCount, 3);
    engine.setTimeout(60);
    ASSERT_EQ(engine.disconnect(), 0);
    server.join();

    ASSERT_EQ(frames.size(), 6u);
    // One message in three frames: FIN only on the last, continuations after
    // the first, a key of its own for each.
    const std::string payloads[] = {"abcd", "efgh", "ij", "klmn", "opqr", "st"};
    const bool fins[] = {false, false, true, true, true, true};
    const std::uint8_t opcodes[] = {1, 0, 0, 1, 1, 1};
    std::set<std::string> keys;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(frames[i].payload, payloads[i]);
        EXPECT_EQ(frames[i].fin, fins[i]);
        EXPECT_EQ(frames[i].opcode, opcodes[i]);
        EXPECT_TRUE(frames[i].masked);
        keys.insert(keyOf(frames[i]));
    }
    EXPECT_EQ(keys.size(), 6u);
}

class ReceivingTest : public FramingWireTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ReceivingTest, FragmentsEmptyMessagesPingsAndLengthForms) {
    const bool buffered = GetParam();
    engine.set(buffered ? "BufferMessage=True" : "BufferMessage=False");
    std::optional<ClientFrame> pong;
    std::optional<ClientFrame> close;
    serve([&](PeerConnection& connection) {
        connection.write(serverFrame(false, 1, "Hel") + serverFrame(false, 0, "lo ") +
                         // A ping between fragments stands on its own.
                         serverFrame(true, 9, "abc") + serverFrame(true, 0, "there") + serverFrame(true, 1, "") +
                         serverFrame(false, 2, "") + serverFrame(true, 0, "") + serverFrame(true, 2, pattern(126)) +
                         serverFrame(true, 2, pattern(65536)));
        pong = connection.readFrame();
        close = connection.echoClose();
    });
    ASSERT_TRUE(testing::pumpUntil(engine, [&] { return receivedBytes() >= 11 + 126 + 65536; }));
    ASSERT_EQ(engine.disconnect(), 0);
    server.join();

    std::vector<std::string> expected = {"DataIn 1 3", "DataIn 1 3", "DataIn 1 5 EOM", "DataIn 2 126 EOM",
                                         "DataIn 2 65536 EOM"};
    if (buffered) expected = {"DataIn 1 11 EOM", "DataIn 2 126 EOM", "DataIn 2 65536 EOM"};
    std::vector<std::string> seen;
    for (const auto& line : events.log) {
        if (line.starts_with("DataIn")) seen.push_back(line);
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(events.data.front().bytes, buffered ? "Hello there" : "Hel");
    EXPECT_TRUE(events.data.back().bytes == pattern(65536));

    ASSERT_TRUE(pong.has_value());
    EXPECT_EQ(pong->opcode, 10);
    EXPECT_TRUE(pong->masked);
    EXPECT_EQ(pong->payload, "abc");
    ASSERT_TRUE(close.has_value());
    EXPECT_EQ(close->payload, testing::closePayload(1000, "Normal Closure"));
}

INSTANTIATE_TEST_SUITE_P(BufferMessage, ReceivingTest, ::testing::Bool());

TEST_F(FramingWireTest, SinglePacketModeHoldsTheNextMessageUntilDataInTextIsRead) {
    engine.set("SinglePacketMode=True");
    serve([&](PeerConnection& connection) {
        connection.write(serverFrame(true, 1, "one") + serverFrame(true, 1, "two") + serverFrame(true, 2, "three"));
        connection.echoClose();
    });
    ASSERT_TRUE(testing::pumpUntil(engine, [&] { return !events.data.empty(); }));
    for (int step = 0; step < 20; ++step) engine.doEvents();
    ASSERT_EQ(events.data.size(), 1u);
    EXPECT_FALSE(engine.acceptData());
    EXPECT_EQ(engine.setting("DataInEOM"), "True");

    EXPECT_EQ(engine.setting("DataInText"), "one");
    ASSERT_TRUE(testing::pumpUntil(engine, [&] { return events.data.size() == 2; }));
    EXPECT_EQ(engine.setting("DataInText"), "two");
    ASSERT_TRUE(testing::pumpUntil(engine, [&] { return events.data.size() == 3; }));
    EXPECT_EQ(events.data[2].format, 2);
    EXPECT_EQ(engine.setting("DataInText"), "three");
    EXPECT_EQ(engine.setting("DataInText"), "");
    ASSERT_EQ(engine.disconnect(), 0);
    server.join();
}

TEST_F(FramingWireTest, DisconnectSendsTheStatusCodeOnceThenNormalClosure) {
    std::vector<std::string> closes;
    server.run([&](ScriptedPeer& peer) {
        for (int i = 0; i < 2; ++i) {
            auto connection = peer.accept();
            if (connection->acceptUpgrade().empty()) return;
            if (auto close = connection->echoClose()) closes.push_back(close->payload);
            connection->waitForEnd();
        }
    });
    ASSERT_EQ(engine.connect(server.url()), 0) << engine.lastErrorText();
    engine.set("DisconnectStatusCode=4000");
    ASSERT_EQ(engine.disconnect(), 0) << engine.lastErrorText();
    EXPECT_EQ(engine.state(), WebSocketLayer::State::Closed);
    ASSERT_EQ(events.disconnects.size(), 1u);
    EXPECT_EQ(events.disconnects[0], (std::pair<int, std::string>{4000, ""}));
    EXPECT_EQ(engine.setting("DisconnectStatusCode"), "-1");

    ASSERT_EQ(engine.connect(server.url()), 0) << engine.lastErrorText();
    ASSERT_EQ(engine.disconnect(), 0);
    server.join();
    ASSERT_EQ(closes.size(), 2u);
    EXPECT_EQ(closes[0], testing::closePayload(4000, ""));
    EXPECT_EQ(closes[1], testing::closePayload(1000, "Normal Closure"));
}

TEST_F(FramingWireTest, AMessageOverTheCapClosesWith1009) {
    struct Case {
        std::string_view name;
        std::string frames;
        std::size_t deliveredFirst;
    };
    // The header of a frame that announces 2^63 bytes, and a few of them.
    const std::string huge = serverFrame(true, 2, "", 1ull << 63) + "xyz";
    const Case cases[] = {
        {"one frame over the cap", serverFrame(true, 1, pattern(17)), 0},
        {"fragments adding up past it",
         serverFrame(false, 2, pattern(8)) + serverFrame(false, 0, pattern(8)) + serverFrame(true, 0, pattern(8)), 2},
        {"a length of 2^63", huge, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingEvents sink;
        Engine client;
        client.setEventSink(&sink);
        if (c.frames != huge) client.set("MaxMessageSize=16");
        EXPECT_EQ(client.maxMessageSize(), c.frames == huge ? 64 << 20 : 16);
        ScriptedPeer peer;
        std::optional<ClientFrame> close;
        peer.run([&](ScriptedPeer& listener) {
            auto connection = listener.accept();
            if (connection->acceptUpgrade().empty()) return;
            connection->write(c.frames);
            close = connection->readFrame();
            connection->waitForEnd();
        });
        ASSERT_EQ(client.connect(peer.url()), 0) << client.lastErrorText();
        ASSERT_TRUE(testing::pumpUntil(client, [&] { return !client.socketOpen(); }));
        peer.join();

        EXPECT_EQ(sink.data.size(), c.deliveredFirst);
        ASSERT_EQ(sink.errors.size(), 1u);
        EXPECT_EQ(sink.errors[0], (std::pair<int, std::string>{4004, "Message Too Big"}));
        ASSERT_TRUE(close.has_value());
        EXPECT_EQ(close->opcode, 8);
        EXPECT_EQ(close->payload, testing::closePayload(1009, "Message Too Big"));
        ASSERT_EQ(sink.disconnects.size(), 1u);
        EXPECT_EQ(sink.disconnects[0], (std::pair<int, std::string>{1009, "Message Too Big"}));
        EXPECT_EQ(client.state(), WebSocketLayer::State::Closed);
    }
}

TEST_F(FramingWireTest, NonBlockingSendsQueueWhatTheSocketCannotTake) {
    std::atomic<bool> startReading = false;
    std::atomic<std::size_t> expectedBytes = 0;
    std::size_t receivedPayload = 0;
    int messages = 0;
    bool intact = true;
    serve([&](PeerConnection& connection) {
        while (!startReading) std::this_thread::yield();
        while (receivedPayload < expectedBytes) {
            auto frame = connection.readFrame();
            if (!frame) return;
            intact = intact && frame->fin && frame->opcode == 2 && frame->payload == pattern(frame->payload.size());
            receivedPayload += frame->payload.size();
            ++messages;
        }
        connection.echoClose();
    });
    engine.set("OutBufferSize=4096");
    engine.setTimeout(0);
    engine.setDataFormat(2);
    engine.set("MaxFrameSize=262144");
    const std::string payload = pattern(262144);
    int code = 0;
    std::size_t handedOver = 0;
    // The server reads nothing yet, so the socket fills up.
    for (int i = 0; i < 256 && code == 0; ++i) {
        code = engine.send(bytes(payload));
        handedOver += static_cast<std::size_t>(engine.bytesSent());
    }
    ASSERT_EQ(code, 10035);
    EXPECT_EQ(engine.lastErrorText(), "[10035] Operation would block");
    EXPECT_GT(engine.pendingOutputSize(), 0u);
    // Queued output goes first: a new message is refused while it waits.
    EXPECT_EQ(engine.send(bytes(payload)), 10035);
    EXPECT_EQ(engine.bytesSent(), 0);
    EXPECT_EQ(engine.disconnect(), 10035);
    EXPECT_EQ(engine.lastErrorText(), "Operation would block. (To force disconnection, set Linger false).");
    EXPECT_EQ(engine.state(), WebSocketLayer::State::Open);

    const int readyBefore = events.readyToSendCount;
    expectedBytes = handedOver;
    startReading = true;
    ASSERT_TRUE(testing::pumpUntil(engine, [&] { return engine.pendingOutputSize() == 0; }));
    EXPECT_GT(events.readyToSendCount, readyBefore);
    engine.setTimeout(60);
    ASSERT_EQ(engine.disconnect(), 0) << engine.lastErrorText();
    server.join();
    EXPECT_EQ(receivedPayload, handedOver);
    EXPECT_EQ(messages, static_cast<int>(handedOver / payload.size()));
    EXPECT_TRUE(intact);
}

TEST_F(FramingWireTest, APingDuringALongSendIsAnsweredAfterTheMessage) {
    // More than the two sockets' buffers hold, so the send has to wait.
    const std::string big = pattern(24 << 20);
    std::vector<ClientFrame> frames;
    serve([&](PeerConnection& connection) {
        // The message has started; the ping arrives while the rest of it
        // waits for room in the socket.
        if (!connection.waitForBytes(2)) return;
        connection.write(serverFrame(true, 9, "mid"));
        for (;;) {
            auto frame = connection.readFrame();
            if (!frame) return;
            const bool isClose = frame->opcode == 8;
            frames.push_back(std::move(*frame));
            if (isClose) break;
        }
        connection.write(serverFrame(true, 8, testing::closePayload(1000, "")));
    });
    engine.setDataFormat(2);
    engine.set("MaxFrameSize=0");
    ASSERT_EQ(engine.send(bytes(big)), 0) << engine.lastErrorText();
    EXPECT_EQ(engine.bytesSent(), static_cast<std::int32_t>(big.size()));
    ASSERT_EQ(engine.disconnect(), 0);
    server.join();

    // The pong never cuts into the message: it follows it whole.
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].opcode, 2);
    EXPECT_TRUE(frames[0].fin);
    EXPECT_TRUE(frames[0].payload == big);
    EXPECT_EQ(frames[1].opcode, 10);
    EXPECT_EQ(frames[1].payload, "mid");
    EXPECT_EQ(frames[2].opcode, 8);
}

TEST_F(FramingWireTest, AMessageIsWhatItsBufferHeldWhenItWasSent) {
    // Many frames, more than the sockets hold: the later frames go out after
    // wait steps, and in one of them a handler refills the very buffer the
    // message was sent from.
    std::string buffer = pattern(24 << 20);
    const std::string original = buffer;
    std::string joined;
    serve([&](PeerConnection& connection) {
        if (!connection.waitForBytes(2)) return;
        connection.write(serverFrame(true, 1, "next"));
        for (;;) {
            auto frame = connection.readFrame();
            if (!frame || frame->opcode == 8) break;
            joined += frame->payload;
        }
        connection.write(serverFrame(true, 8, testing::closePayload(1000, "")));
    });
    bool refilled = false;
    events.onDataIn = [&](const testing::ReceivedData&) {
        std::fill(buffer.begin(), buffer.end(), 'X');
        refilled = true;
    };
    engine.setDataFormat(2);
    ASSERT_EQ(engine.send(bytes(buffer)), 0) << engine.lastErrorText();
    EXPECT_TRUE(refilled) << "the handler did not run during the send";
    ASSERT_EQ(engine.disconnect(), 0);
    server.join();
    EXPECT_EQ(joined.size(), original.size());
    EXPECT_TRUE(joined == original) << "the message carries bytes written after it was sent";
}

}  // namespace
}  // namespace morvane
