// The socket engine against real peers on loopback: in-process sockets on
// ports from 0, driven one wait step at a time from this thread (or, for
// bulk transfers, served from a second thread).
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "control/com/engine_events.h"
#include "control/transport/socket_engine.h"
#include "platform/loop/thread_loop.h"

namespace morvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Status {
    std::string text;
    int code;
};

// Records what the engine raises through the control's event sink.
class RecordingSink : public IgnoringEvents {
public:
    std::vector<Status> statuses;
    std::vector<Status> errors;
    int readyCount = 0;

    void connectionStatus(const std::string& text, std::int16_t code, const std::string&) override {
        statuses.push_back({text, code});
    }
    void error(std::int16_t code, const std::string& text) override { errors.push_back({text, code}); }
    void readyToSend() override { ++readyCount; }

    bool sawStatus(std::string_view text, int code) const {
        for (const auto& s : statuses) {
            if (s.text == text && s.code == code) return true;
        }
        return false;
    }
};

// The layer above, as far as the engine can tell.
class TestEngine : public SocketEngine {
public:
    TestEngine() { setEventSink(&sink); }

    RecordingSink sink;
    std::vector<int> completions;
    std::vector<std::pair<std::string, bool>> pieces;
    std::string received;
    std::vector<int> disconnects;
    int afterClose = 0;
    std::size_t sentBlocks = 0;
    std::function<void(std::string_view)> whenData;
    int dataResult = 0;

    void set(std::string_view text) {
        std::string result;
        ASSERT_EQ(config(text, result), 0) << text << ": " << lastErrorText();
    }
    std::string get(std::string_view name) {
        std::string result;
        EXPECT_EQ(config(name, result), 0) << name;
        return result;
    }
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const auto& [text, eol] : pieces) {
            if (eol) out.push_back(text);
        }
        return out;
    }

protected:
    void onConnectionComplete(int code) override { completions.push_back(code); }
    int onDataReceived(std::span<const std::uint8_t> data, bool endOfLine) override {
        const std::string text(reinterpret_cast<const char*>(data.data()), data.size());
        pieces.emplace_back(text, endOfLine);
        received += text;
        if (whenData) whenData(text);
        return dataResult;
    }
    void onDisconnected(int code, const std::string&) override { disconnects.push_back(code); }
    void onAfterClose() override { ++afterClose; }
    void onSendProgress(std::size_t) override { ++sentBlocks; }
};

bool runUntil(SocketEngine& engine, const std::function<bool()>& done, Clock::duration limit = 10s) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) return false;
        engine.doEvents();
    }
    return true;
}

void setBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK); }

void sendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        ASSERT_GT(n, 0);
        data.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::string receiveSome(int fd, Clock::duration limit = 5s) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(limit).count())) <= 0) {
        return {};
    }
    char data[65536];
    const ssize_t n = ::recv(fd, data, sizeof data, 0);
    return n > 0 ? std::string(data, static_cast<std::size_t>(n)) : std::string();
}

// A listening socket on loopback with a port from 0.
class Listener {
public:
    explicit Listener(int family = AF_INET, int backlog = 16) {
        fd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage address{};
        socklen_t length;
        if (family == AF_INET6) {
            auto* a = reinterpret_cast<sockaddr_in6*>(&address);
            a->sin6_family = AF_INET6;
            a->sin6_addr = in6addr_loopback;
            length = sizeof *a;
        } else {
            auto* a = reinterpret_cast<sockaddr_in*>(&address);
            a->sin_family = AF_INET;
            a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof *a;
        }
        ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(fd_, backlog) == 0;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                         : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    }
    ~Listener() {
        for (int fd : accepted_) ::close(fd);
        if (fd_ >= 0) ::close(fd_);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    bool ok() const { return ok_; }
    int port() const { return port_; }
    void close() {
        ::close(fd_);
        fd_ = -1;
    }
    void closeAccepted(int fd) {
        std::erase(accepted_, fd);
        ::close(fd);
    }
    // The next connection, or -1 after 5 s. `peerPort` gets its source port.
    int accept(int* peerPort = nullptr) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) return -1;
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (fd >= 0) accepted_.push_back(fd);
        if (peerPort) *peerPort = ntohs(reinterpret_cast<sockaddr_in*>(&peer)->sin_port);
        return fd;
    }

private:
    int fd_ = -1;
    int port_ = 0;
    bool ok_ = false;
    std::vector<int> accepted_;
};

// Runs `action` on the thread's loop after `delay`, once.
class LoopTimer : public platform::loop::MessageTarget {
public:
    LoopTimer(std::chrono::milliseconds delay, std::function<void()> action) : action_(std::move(action)) {
        auto& loop = platform::loop::threadLoop();
        target_ = loop.createTarget(*this);
        loop.setTimer(target_, 1, delay);
    }
    ~LoopTimer() override { platform::loop::threadLoop().destroyTarget(target_); }
    void onMessage(const platform::loop::Message&) override {
        platform::loop::threadLoop().killTimer(target_, 1);
        if (action_) action_();
    }

private:
    platform::loop::TargetId target_;
    std::function<void()> action_;
};

// Every behaviour that both notification roads share runs on both: window
// messages through the thread's loop, and the select-loop emulation.
class SocketEngineIoTest : public ::testing::TestWithParam<bool> {
protected:
    void prepare(TestEngine& engine, int port, std::string_view host = "127.0.0.1") {
        engine.set(GetParam() ? "UseWindowsMessages=True" : "UseWindowsMessages=False");
        ASSERT_EQ(engine.setRemoteHost(host), 0);
        ASSERT_EQ(engine.setRemotePort(port), 0);
    }
    // Connects `engine` to `listener` and returns the server's side.
    int connectTo(TestEngine& engine, Listener& listener) {
        prepare(engine, listener.port());
        EXPECT_EQ(engine.connectAndWait(), 0) << engine.lastErrorText();
        const int peer = listener.accept();
        EXPECT_GE(peer, 0);
        return peer;
    }
};

INSTANTIATE_TEST_SUITE_P(Roads, SocketEngineIoTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& road) {
                             return road.param ? "WindowMessages" : "SelectLoop";
                         });

TEST_P(SocketEngineIoTest, ConnectsReportsStatusAndExchangesBytes) {
    Listener listener;
    TestEngine engine;
    const int peer = connectTo(engine, listener);

    EXPECT_TRUE(engine.transportEstablished());
    EXPECT_EQ(engine.completions, std::vector<int>{0});
    EXPECT_TRUE(engine.sink.sawStatus("Remote host connection complete.", 0));
    EXPECT_TRUE(runUntil(engine, [&] { return engine.sink.readyCount > 0; }));
    EXPECT_EQ(engine.get("SocketHandle"), std::to_string(engine.socketHandle()));
    EXPECT_NE(engine.get("LocalPort"), "0");

    EXPECT_EQ(engine.sendBlocking({reinterpret_cast<const std::uint8_t*>("ping"), 4}), 0);
    EXPECT_EQ(receiveSome(peer), "ping");
    EXPECT_EQ(engine.sentBlocks, 1u);
    sendAll(peer, "pong");
    EXPECT_TRUE(runUntil(engine, [&] { return engine.received == "pong"; }));
    // A layer that cannot store what came is reported through Error.
    engine.dataResult = 200;
    sendAll(peer, "more");
    EXPECT_TRUE(runUntil(engine, [&] { return !engine.sink.errors.empty(); }));
    EXPECT_EQ(engine.sink.errors.front().text, "Out of memory in DataIn [TCXMsg].");
    EXPECT_EQ(engine.sink.errors.front().code, 200);

    EXPECT_EQ(engine.connect(), 104);
    EXPECT_EQ(engine.lastErrorText(),
              "Already connected. If you want to reconnect, close the current connection first.");
    EXPECT_EQ(engine.setRemotePort(1), 100);
    EXPECT_EQ(engine.setRemoteHost("127.0.0.2"), 101);
    EXPECT_EQ(engine.setLocalPort(1), 106);
    EXPECT_TRUE(engine.socketConnected());

    EXPECT_EQ(engine.disconnect(), 0);
    EXPECT_EQ(engine.disconnects, std::vector<int>{0});
    EXPECT_EQ(engine.afterClose, 1);
    EXPECT_EQ(receiveSome(peer), "");  // the peer sees the end of the stream
    // With nothing open only the after-close hook runs.
    EXPECT_EQ(engine.disconnect(), 0);
    EXPECT_EQ(engine.afterClose, 2);
    EXPECT_EQ(engine.disconnects.size(), 1u);
}

TEST_P(SocketEngineIoTest, RefusedConnectReportsTheSocketError) {
    Listener listener;
    const int port = listener.port();
    listener.close();
    TestEngine engine;
    prepare(engine, port);
    EXPECT_EQ(engine.connectAndWait(), 10061);
    EXPECT_EQ(engine.lastErrorText(), "[10061] Connection refused");
    EXPECT_EQ(engine.completions, std::vector<int>{10061});
    EXPECT_TRUE(engine.sink.sawStatus("Remote host connection failed.", 10061));
    EXPECT_FALSE(engine.socketOpen());
    EXPECT_TRUE(engine.disconnects.empty());
}

TEST_P(SocketEngineIoTest, HalfCloseDeliversTheLastBytesThenDisconnects) {
    Listener listener;
    TestEngine engine;
    const int peer = connectTo(engine, listener);
    sendAll(peer, "last words");
    ::shutdown(peer, SHUT_WR);
    EXPECT_TRUE(runUntil(engine, [&] { return !engine.socketOpen(); }));
    EXPECT_EQ(engine.received, "last words");
    EXPECT_TRUE(engine.sink.sawStatus("Remote host disconnected.", 0));
    EXPECT_EQ(engine.disconnects, std::vector<int>{0});
}

TEST_P(SocketEngineIoTest, PeerResetIsReportedWithItsCode) {
    Listener listener;
    TestEngine engine;
    const int peer = connectTo(engine, listener);
    sendAll(peer, "x");
    ASSERT_TRUE(runUntil(engine, [&] { return engine.received == "x"; }));
    const ::linger abortive{1, 0};
    ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    listener.closeAccepted(peer);  // with linger 0 the close resets
    EXPECT_TRUE(runUntil(engine, [&] { return !engine.socketOpen(); }));
    EXPECT_EQ(engine.disconnects, std::vector<int>{10054});
    EXPECT_TRUE(engine.sink.sawStatus("Remote host disconnected.", 10054));
}

TEST_P(SocketEngineIoTest, LinesArriveByteAtATimeAndSplitAcrossReads) {
    Listener listener;
    TestEngine engine;
    const int peer = connectTo(engine, listener);
    engine.setEndOfLine("\r\n");
    for (char c : std::string("line1\r\nline2\r\nhalf")) {
        sendAll(peer, std::string(1, c));
        for (int i = 0; i < 3; ++i) engine.doEvents();
    }
    EXPECT_TRUE(runUntil(engine, [&] { return engine.lines().size() == 2; }));
    EXPECT_EQ(engine.lines(), (std::vector<std::string>{"line1", "line2"}));
    // The unfinished line goes up when the peer ends the stream.
    ::shutdown(peer, SHUT_WR);
    EXPECT_TRUE(runUntil(engine, [&] { return !engine.socketOpen(); }));
    ASSERT_FALSE(engine.pieces.empty());
    EXPECT_EQ(engine.pieces.back(), (std::pair<std::string, bool>{"half", false}));
}

TEST_P(SocketEngineIoTest, SplitCrlfPairsACarriageReturnWithALineFeedInTheNextRead) {
    Listener listener;
    TestEngine engine;
    const int peer = connectTo(engine, listener);
    engine.set("SplitCRLF=True");
    engine.setEndOfLine("\n");
    sendAll(peer, "a\r");
    ASSERT_TRUE(runUntil(engine, [&] { return engine.lines().size() == 1; }));
    sendAll(peer, "\nb\r\n");
    ASSERT_TRUE(runUntil(engine, [&] { return engine.lines().size() == 2; }));
    for (int i = 0; i < 5; ++i) engine.doEvents();
    EXPECT_EQ(engine.lines(), (std::vector<std::string>{"a", "b"}));
}

TEST_P(SocketEngineIoTest, AcceptDataFalseHoldsBytesUntilTrue) {
    Listener listener;
    TestEngine engine;
    const int peer = connectTo(engine, listener);
    engine.setAcceptData(false);
    sendAll(peer, "held back");
    // The peer's orderly end waits behind the bytes, too.
    ::shutdown(peer, SHUT_WR);
    for (int i = 0; i < 10; ++i) engine.doEvents();
    EXPECT_EQ(engine.received, "");
    EXPECT_TRUE(engine.socketOpen());
    EXPECT_TRUE(engine.disconnects.empty());

    engine.setAcceptData(true);
    EXPECT_TRUE(runUntil(engine, [&] { return !engine.socketOpen(); }));
    EXPECT_EQ(engine.received, "held back");
    EXPECT_EQ(engine.disconnects, std::vector<int>{0});
}

TEST_P(SocketEngineIoTest, PausingInsideDeliveryKeepsTheRestInOrder) {
    Listener listener;
    TestEngine engine;
    const int peer = connectTo(engine, listener);
    engine.setEndOfLine("\n");
    // One line per pause, as a single-packet consumer takes them.
    engine.whenData = [&](std::string_view) { engine.setAcceptData(false); };
    sendAll(peer, "1\n2\n3\n");
    ASSERT_TRUE(runUntil(engine, [&] { return engine.lines().size() == 1; }));
    for (int i = 0; i < 5; ++i) engine.doEvents();
    EXPECT_EQ(engine.lines().size(), 1u);
    for (std::size_t expected = 2; expected <= 3; ++expected) {
        engine.setAcceptData(true);
        ASSERT_TRUE(runUntil(engine, [&] { return engine.lines().size() == expected; }));
    }
    EXPECT_EQ(engine.lines(), (std::vector<std::string>{"1", "2", "3"}));
}

TEST_P(SocketEngineIoTest, DisconnectFromInsideDeliveryWaitsForTheHandler) {
    Listener listener;
    TestEngine engine;
    const int peer = connectTo(engine, listener);
    engine.setEndOfLine("\n");
    engine.whenData = [&](std::string_view line) {
        if (line == "bye") {
            EXPECT_EQ(engine.disconnect(), 0);
            // Still open: the read handler is running.
            EXPECT_TRUE(engine.socketOpen());
        }
    };
    sendAll(peer, "hello\nbye\nafter\n");
    EXPECT_TRUE(runUntil(engine, [&] { return !engine.socketOpen(); }));
    EXPECT_EQ(engine.disconnects, std::vector<int>{0});
    EXPECT_EQ(engine.afterClose, 1);
}

TEST_P(SocketEngineIoTest, LargeTransfersBothWays) {
    Listener listener;
    TestEngine engine;
    const int peer = connectTo(engine, listener);
    std::string payload(8 << 20, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>((i * 131) >> 7);

    // The peer echoes on its own thread, so that neither side's buffers stall.
    setBlocking(peer);
    std::thread echo([peer, size = payload.size()] {
        std::vector<char> data(65536);
        std::size_t total = 0;
        while (total < size) {
            const ssize_t n = ::recv(peer, data.data(), data.size(), 0);
            if (n <= 0) return;
            ::send(peer, data.data(), static_cast<std::size_t>(n), MSG_NOSIGNAL);
            total += static_cast<std::size_t>(n);
        }
    });
    const int code = engine.sendBlocking({reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()});
    EXPECT_EQ(code, 0) << engine.lastErrorText();
    EXPECT_TRUE(runUntil(engine, [&] { return engine.received.size() >= payload.size(); }, 30s));
    echo.join();
    EXPECT_TRUE(engine.received == payload);
}

TEST_P(SocketEngineIoTest, DebugLogAndRecordingFormats) {
    const auto dir = std::filesystem::temp_directory_path() / ("morvane-log-" + std::to_string(::getpid()) +
                                                               (GetParam() ? "-m" : "-s"));
    std::filesystem::create_directories(dir);
    const auto log = dir / "debug.log";
    const auto script = dir / "session.exp";
    std::filesystem::remove(log);
    std::filesystem::remove(script);

    Listener listener;
    TestEngine engine;
    engine.set("LogDebugFile=" + log.string());
    engine.set("RecordToFile=" + script.string());
    engine.set("RecordToString=on");
    const int peer = connectTo(engine, listener);
    ASSERT_EQ(engine.sendBlocking({reinterpret_cast<const std::uint8_t*>("GET $x\r\n"), 8}), 0);
    EXPECT_EQ(receiveSome(peer), "GET $x\r\n");
    sendAll(peer, std::string("ok\0", 3));
    ASSERT_TRUE(runUntil(engine, [&] { return engine.received.size() == 3; }));
    engine.logDebugText("URL: ws://127.0.0.1/");

    std::ifstream file(log, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::string n = std::to_string(engine.instanceNumber());
    const std::string stamp = R"(\[\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\] )";
    const std::regex expected("\\[" + n + "\\]" + stamp + R"(------SEND------\(8 bytes\)\r\nGET \$x\r\n\r\n)" +
                              "\\[" + n + "\\]" + stamp + R"(------RECEIVE------\(3 bytes\)\r\nok\x00\r\n)" +
                              "\\[" + n + "\\]" + stamp + R"(URL: ws://127\.0\.0\.1/\r\n)");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;

    const std::string recording = "\r\nexpect -exact \"GET \\$x\r\n\"\r\n\r\nsend -nonewline \"ok\\000\"\r\n";
    EXPECT_EQ(engine.get("RecordToString"), recording);
    std::ifstream scriptFile(script, std::ios::binary);
    const std::string scriptText((std::istreambuf_iterator<char>(scriptFile)), std::istreambuf_iterator<char>());
    EXPECT_EQ(scriptText, recording);
    engine.disconnect();
    std::filesystem::remove_all(dir);
}

TEST_P(SocketEngineIoTest, SocketOptionsReachTheSocket) {
    Listener listener;
    TestEngine engine;
    engine.set("TcpNoDelay=True");
    engine.set("TCPKeepAlive=True");
    engine.set("KeepAliveTime=30000");
    engine.set("InBufferSize=100000");
    connectTo(engine, listener);
    const int fd = engine.socketHandle();
    int value = 0;
    socklen_t length = sizeof value;
    ::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &value, &length);
    EXPECT_EQ(value, 1);
    ::getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &value, &length);
    EXPECT_EQ(value, 1);
    ::getsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &value, &length);
    EXPECT_EQ(value, 30);
    ::getsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &value, &length);
    EXPECT_EQ(value, 1);  // a zero interval becomes one second
    ::getsockopt(fd, SOL_SOCKET, SO_OOBINLINE, &value, &length);
    EXPECT_EQ(value, 1);
    // What is in force is read back (the system may round or cap it).
    ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &value, &length);
    EXPECT_EQ(engine.get("InBufferSize"), std::to_string(value / 2));
}

TEST_P(SocketEngineIoTest, LingerFalseResetsOnClose) {
    Listener listener;
    TestEngine engine;
    engine.set("Linger=False");
    const int peer = connectTo(engine, listener);
    engine.disconnect();
    char byte;
    pollfd p{peer, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    EXPECT_EQ(::recv(peer, &byte, 1, 0), -1);
    EXPECT_EQ(errno, ECONNRESET);
}

TEST(SocketEngineChecksTest, ChecksThatComeBeforeAnySocket) {
    TestEngine engine;
    EXPECT_EQ(engine.connect(), 102);
    EXPECT_EQ(engine.lastErrorText(), "The RemoteHost address is invalid (0.0.0.0).");

    ASSERT_EQ(engine.setRemoteHost("127.0.0.1"), 0);
    EXPECT_EQ(engine.connect(), 116);
    EXPECT_EQ(engine.lastErrorText(), "RemotePort can't be zero. Please specify a valid service port number.");

    engine.setRemotePort(80);
    const int code = engine.setRemoteHost("no-such-host.invalid");
    EXPECT_TRUE(code >= 11001 && code <= 11004) << code;
    EXPECT_EQ(engine.lastErrorText().substr(0, 7), "[" + std::to_string(code) + "]");
    EXPECT_EQ(engine.get("RemoteHostName"), "no-such-host.invalid");
    EXPECT_EQ(engine.connect(), 102);
    EXPECT_FALSE(engine.socketOpen());
    EXPECT_TRUE(engine.sink.statuses.empty());

    std::size_t accepted = 99;
    EXPECT_EQ(engine.send({reinterpret_cast<const std::uint8_t*>("x"), 1}, &accepted), 10057);
    EXPECT_EQ(accepted, 0u);
    EXPECT_EQ(engine.lastErrorText(), "[10057] Socket is not connected");
}

TEST(SocketEngineChecksTest, FirewallTargetIsCheckedFirst) {
    TestEngine engine;
    engine.set("FirewallType=1");
    EXPECT_EQ(engine.connect(), 102);
    EXPECT_EQ(engine.lastErrorText(), "The FirewallHost address is invalid (0.0.0.0).");
    engine.set("FirewallHost=127.0.0.1");
    engine.set("FirewallPort=0");
    EXPECT_EQ(engine.connect(), 116);
    EXPECT_EQ(engine.lastErrorText(), "The FirewallPort is invalid (0).");
}

// A server whose accept queue is full drops new SYNs, so a connect to it
// neither completes nor fails.
class SilentServer {
public:
    SilentServer() : listener_(AF_INET, 0) {
        for (int i = 0; i < 4; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            to.sin_port = htons(static_cast<std::uint16_t>(listener_.port()));
            ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to);
            fillers_.push_back(fd);
        }
        std::this_thread::sleep_for(50ms);
    }
    ~SilentServer() {
        for (int fd : fillers_) ::close(fd);
    }
    int port() const { return listener_.port(); }

private:
    Listener listener_;
    std::vector<int> fillers_;
};

TEST(SocketEngineWaitTest, ConnectTimesOutWithTimeoutOrConnectionTimeout) {
    SilentServer server;
    {
        TestEngine engine;
        engine.set("TimeoutInMilliseconds=True");
        engine.setTimeout(300);
        engine.setRemoteHost("127.0.0.1");
        engine.setRemotePort(server.port());
        const auto started = Clock::now();
        EXPECT_EQ(engine.connectAndWait(), 301);
        EXPECT_EQ(engine.lastErrorText(), "Timeout.");
        EXPECT_FALSE(engine.socketOpen());
        EXPECT_LT(Clock::now() - started, 10s);
    }
    {
        TestEngine engine;
        engine.set("TimeoutInMilliseconds=True");
        engine.setTimeout(0);
        engine.set("ConnectionTimeout=200");
        engine.setRemoteHost("127.0.0.1");
        engine.setRemotePort(server.port());
        EXPECT_EQ(engine.connectAndWait(), 301);
        EXPECT_EQ(engine.lastErrorText(), "Timeout.");
        // The connection phase's limit does not stay behind.
        EXPECT_EQ(engine.timeout(), 0);
    }
}

TEST(SocketEngineWaitTest, InterruptEndsABlockingConnect) {
    SilentServer server;
    TestEngine engine;
    engine.setTimeout(0);
    engine.setRemoteHost("127.0.0.1");
    engine.setRemotePort(server.port());
    engine.interrupt();  // nothing in progress: ignored
    LoopTimer timer(100ms, [&] { engine.interrupt(); });
    EXPECT_EQ(engine.connectAndWait(), 301);
    EXPECT_EQ(engine.lastErrorText(), "Interrupted.");
    EXPECT_TRUE(engine.interrupted());
    EXPECT_FALSE(engine.socketOpen());
}

TEST(SocketEngineWaitTest, InterruptEndsABlockingSendAndIsConsumed) {
    Listener listener;
    TestEngine engine;
    engine.setTimeout(0);  // no deadline: only the interrupt ends it
    engine.setRemoteHost("127.0.0.1");
    engine.setRemotePort(listener.port());
    ASSERT_EQ(engine.connectAndWait(), 0);
    ASSERT_GE(listener.accept(), 0);  // and never read from
    LoopTimer timer(150ms, [&] { engine.interrupt(); });
    const std::string big(64 << 20, 'z');
    EXPECT_EQ(engine.sendBlocking({reinterpret_cast<const std::uint8_t*>(big.data()), big.size()}), 301);
    EXPECT_EQ(engine.lastErrorText(), "Interrupted.");
    EXPECT_TRUE(engine.interrupted());
    EXPECT_TRUE(engine.waitStep());  // the request was used up
    EXPECT_TRUE(engine.socketConnected());
}

TEST(SocketEngineWaitTest, QuitRequestEndsAWaitAndStaysPending) {
    SilentServer server;
    TestEngine engine;
    engine.setTimeout(0);
    engine.setRemoteHost("127.0.0.1");
    engine.setRemotePort(server.port());
    LoopTimer timer(50ms, [] { platform::loop::threadLoop().postQuit(3); });
    EXPECT_EQ(engine.connectAndWait(), 301);
    auto& loop = platform::loop::threadLoop();
    EXPECT_TRUE(loop.quitPending());
    EXPECT_EQ(loop.run(), 3);
}

TEST(SocketEngineWaitTest, RateLimitSpacesTheSends) {
    Listener listener;
    TestEngine engine;
    engine.setRemoteHost("127.0.0.1");
    engine.setRemotePort(listener.port());
    ASSERT_EQ(engine.connectAndWait(), 0);
    const int peer = listener.accept();
    engine.set("MaxTransferRate=20000");
    const std::string block(30000, 'r');
    const auto started = Clock::now();
    ASSERT_EQ(engine.sendBlocking({reinterpret_cast<const std::uint8_t*>(block.data()), block.size()}), 0);
    // 30000 bytes at 20000 B/s: the second part may go only once a second
    // has passed since the first.
    EXPECT_GE(Clock::now() - started, 900ms);
    std::size_t total = 0;
    while (total < block.size()) {
        const std::string part = receiveSome(peer);
        if (part.empty()) break;
        total += part.size();
    }
    EXPECT_EQ(total, block.size());
}

TEST(SocketEngineWaitTest, ProgressKeepsTheDeadlineAwayUnlessItIsAbsolute) {
    for (const bool absolute : {false, true}) {
        Listener listener;
        TestEngine engine;
        engine.set("TimeoutInMilliseconds=True");
        engine.setTimeout(1500);
        engine.set(absolute ? "AbsoluteTimeout=True" : "AbsoluteTimeout=False");
        engine.setRemoteHost("127.0.0.1");
        engine.setRemotePort(listener.port());
        ASSERT_EQ(engine.connectAndWait(), 0);
        ASSERT_GE(listener.accept(), 0);
        // About two and a half seconds of steady progress, a second per step.
        engine.set("MaxTransferRate=2000");
        const std::string block(5000, 'p');
        const int code = engine.sendBlocking({reinterpret_cast<const std::uint8_t*>(block.data()), block.size()});
        if (absolute) {
            EXPECT_EQ(code, 301);
            EXPECT_EQ(engine.lastErrorText(), "Timeout.");
        } else {
            EXPECT_EQ(code, 0) << engine.lastErrorText();
        }
    }
}

TEST(SocketEngineWaitTest, MaxReceiveDataTimeLetsOtherEventsIn) {
    Listener listener;
    TestEngine engine;
    engine.set("MaxLineLength=64");
    engine.set("MaxReceiveDataTime=3");
    engine.setRemoteHost("127.0.0.1");
    engine.setRemotePort(listener.port());
    ASSERT_EQ(engine.connectAndWait(), 0);
    const int peer = listener.accept();
    engine.setEndOfLine("\n");

    std::size_t linesWhenOtherEventRan = 0;
    std::unique_ptr<LoopTimer> other;
    engine.whenData = [&](std::string_view) {
        std::this_thread::sleep_for(1ms);
        if (!other) other = std::make_unique<LoopTimer>(1ms, [&] { linesWhenOtherEventRan = engine.lines().size(); });
    };
    std::string lines;
    for (int i = 0; i < 100; ++i) lines += "line " + std::to_string(i % 10) + "\n";
    sendAll(peer, lines);
    ASSERT_TRUE(runUntil(engine, [&] { return engine.lines().size() == 100; }));
    EXPECT_GT(linesWhenOtherEventRan, 0u);
    EXPECT_LT(linesWhenOtherEventRan, 100u);
}

TEST(SocketEngineEndpointTest, LocalBindAndIPv6) {
    // Local port: take a free one from the system, then ask for it.
    int freePort;
    {
        Listener probe;
        freePort = probe.port();
    }
    Listener listener;
    TestEngine engine;
    engine.set("LocalHost=127.0.0.1");
    engine.set("LocalPort=" + std::to_string(freePort));
    engine.set("ShareLocalPort=True");
    engine.setRemoteHost("127.0.0.1");
    engine.setRemotePort(listener.port());
    ASSERT_EQ(engine.connectAndWait(), 0) << engine.lastErrorText();
    int peerPort = 0;
    ASSERT_GE(listener.accept(&peerPort), 0);
    EXPECT_EQ(peerPort, freePort);
    EXPECT_EQ(engine.get("LocalPort"), std::to_string(freePort));
    engine.disconnect();

    Listener listener6(AF_INET6);
    if (!listener6.ok()) GTEST_SKIP() << "no IPv6 loopback here";
    for (std::string_view mode : {"True", "2"}) {
        TestEngine engine6;
        engine6.set(std::string("UseIPv6=") + std::string(mode));
        ASSERT_EQ(engine6.setRemoteHost("::1"), 0);
        EXPECT_TRUE(engine6.remoteAddress().isIPv6());
        engine6.setRemotePort(listener6.port());
        EXPECT_EQ(engine6.connectAndWait(), 0) << engine6.lastErrorText();
        EXPECT_GE(listener6.accept(), 0);
    }
}

}  // namespace
}  // namespace morvane
