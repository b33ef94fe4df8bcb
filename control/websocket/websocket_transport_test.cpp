// The WebSocket layer over the socket engine against a real server: Debian's
// python3-websockets, started by the test on a port from 0.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "control/engine/engine_events.h"
#include "control/websocket/whole_engine.h"

namespace morvane {
namespace {

using namespace std::chrono_literals;

struct DataIn {
    int format;
    std::string bytes;
    bool eom;
};

class Events : public IgnoringEvents {
public:
    std::vector<std::string> log;
    std::vector<DataIn> data;
    std::vector<std::pair<int, std::string>> disconnects;
    bool connectedSeen = false;

    void connected(std::int16_t code, const std::string&) override {
        connectedSeen = code == 0;
        log.push_back("Connected " + std::to_string(code));
    }
    void connectionStatus(const std::string& text, std::int16_t code, const std::string& description) override {
        log.push_back("Status " + text + " " + std::to_string(code) + " " + description);
    }
    void dataIn(std::int16_t format, std::span<const std::uint8_t> bytes, bool eom) override {
        data.push_back({format, std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()), eom});
    }
    void disconnected(std::int16_t code, const std::string& reason) override { disconnects.emplace_back(code, reason); }
    void error(std::int16_t code, const std::string& text) override {
        log.push_back("Error " + std::to_string(code) + " " + text);
    }
};

class EchoServer {
public:
    EchoServer() {
        const std::string command = "exec /usr/bin/python3 " + std::string(MORVANE_TESTDATA) + "/echo_server.py";
        pipe_ = ::popen(command.c_str(), "r");
        if (pipe_ && std::fscanf(pipe_, "%d %d", &port_, &pid_) != 2) port_ = 0;
    }
    ~EchoServer() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
        if (pipe_) ::pclose(pipe_);
    }
    int port() const { return port_; }
    std::string url() const { return "ws://127.0.0.1:" + std::to_string(port_) + "/"; }

private:
    FILE* pipe_ = nullptr;
    int port_ = 0;
    int pid_ = 0;
};

bool runUntil(testing::WholeEngine& engine, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        engine.doEvents();
    }
    return true;
}

std::span<const std::uint8_t> bytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

class WebSocketTransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GT(server.port(), 0) << "the python3-websockets server did not start";
        engine.setEventSink(&events);
        ASSERT_EQ(engine.connect(server.url()), 0) << engine.lastErrorText();
    }
    EchoServer server;
    Events events;
    testing::WholeEngine engine;
};

TEST_F(WebSocketTransportTest, HandshakeTextEchoAndCloseFromThisSide) {
    EXPECT_TRUE(events.connectedSeen);
    EXPECT_TRUE(engine.connected());
    EXPECT_EQ(engine.state(), WebSocketLayer::State::Open);
    EXPECT_EQ(engine.statusCode(), 101);
    ASSERT_GE(events.log.size(), 2u);
    EXPECT_EQ(events.log[0], "Status Remote host connection complete. 0 OK");
    EXPECT_EQ(events.log[1], "Status Websocket connection complete. 0 OK");

    ASSERT_EQ(engine.sendText("hello"), 0) << engine.lastErrorText();
    EXPECT_EQ(engine.bytesSent(), 5);
    ASSERT_TRUE(runUntil(engine, [&] { return !events.data.empty(); }));
    EXPECT_EQ(events.data[0].format, 1);
    EXPECT_EQ(events.data[0].bytes, "hello");
    EXPECT_TRUE(events.data[0].eom);

    std::string ignored;
    ASSERT_EQ(engine.config("DisconnectStatusCode=4000", ignored), 0);
    EXPECT_EQ(engine.disconnect(), 0) << engine.lastErrorText();
    EXPECT_TRUE(runUntil(engine, [&] { return !engine.socketOpen(); }));
    ASSERT_EQ(events.disconnects.size(), 1u);
    EXPECT_EQ(events.disconnects[0].first, 4000);
}

TEST_F(WebSocketTransportTest, BinaryMebibyteAndFragmentedSends) {
    std::string big(1 << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + (i >> 9));
    engine.setDataFormat(2);
    ASSERT_EQ(engine.send(bytes(big)), 0) << engine.lastErrorText();
    ASSERT_TRUE(runUntil(engine, [&] {
        std::size_t total = 0;
        for (const auto& d : events.data) total += d.bytes.size();
        return total >= big.size();
    }));
    std::string echoed;
    for (const auto& d : events.data) echoed += d.bytes;
    EXPECT_EQ(events.data.back().format, 2);
    EXPECT_TRUE(events.data.back().eom);
    EXPECT_TRUE(echoed == big);

    // Fragments of 4 bytes reassemble into one message at the server.
    std::string ignored;
    ASSERT_EQ(engine.config("MaxFrameSize=4", ignored), 0);
    events.data.clear();
    engine.setDataFormat(1);
    ASSERT_EQ(engine.send(bytes("fragmented!")), 0);
    ASSERT_TRUE(runUntil(engine, [&] { return !events.data.empty(); }));
    EXPECT_EQ(events.data[0].bytes, "fragmented!");
}

TEST_F(WebSocketTransportTest, PingFromTheServerIsAnswered) {
    ASSERT_EQ(engine.sendText("ping-me"), 0);
    // The server echoes only after its ping was answered with a pong.
    ASSERT_TRUE(runUntil(engine, [&] {
        for (const auto& d : events.data) {
            if (d.bytes == "ping-me") return true;
        }
        return false;
    }));
}

TEST_F(WebSocketTransportTest, ServerCloseWith1001AndNoReason) {
    ASSERT_EQ(engine.sendText("close-1001"), 0);
    ASSERT_TRUE(runUntil(engine, [&] { return !events.disconnects.empty(); }));
    EXPECT_EQ(events.disconnects[0].first, 1001);
    EXPECT_EQ(events.disconnects[0].second, "Going Away");
    EXPECT_TRUE(runUntil(engine, [&] { return !engine.socketOpen(); }));
    EXPECT_EQ(events.disconnects.size(), 1u);
}

TEST_F(WebSocketTransportTest, ServerThatDropsTheConnection) {
    ASSERT_EQ(engine.sendText("drop"), 0);
    ASSERT_TRUE(runUntil(engine, [&] { return !engine.socketOpen(); }));
    ASSERT_EQ(events.disconnects.size(), 1u);
    EXPECT_EQ(events.disconnects[0].first, 1001);
    EXPECT_EQ(events.disconnects[0].second, "Going Away");
    EXPECT_EQ(engine.state(), WebSocketLayer::State::Closed);
}

}  // namespace
}  // namespace morvane
