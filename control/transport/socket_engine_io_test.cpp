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

#include "control/transport/socket_engine.h"
#include "control/transport/socket_test_support.h"
#include "platform/loop/thread_loop.h"

namespace morvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using socket_test::Listener;
using socket_test::SocketStack;

bool runUntil(SocketStack& stack, const std::function<bool()>& done, Clock::duration limit = 10s) {
    const auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > end) return false;
        stack.doEvents();
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
    void prepare(SocketStack& stack, int port, std::string_view host = "127.0.0.1") {
        stack.set(GetParam() ? "UseWindowsMessages=True" : "UseWindowsMessages=False");
        ASSERT_EQ(stack.engine.setRemoteHost(host), 0);
        ASSERT_EQ(stack.engine.setRemotePort(port), 0);
    }
    // Connects `stack` to `listener` and returns the server's side.
    int connectTo(SocketStack& stack, Listener& listener) {
        prepare(stack, listener.port());
        EXPECT_EQ(stack.connectAndWait(), 0) << stack.lastErrorText();
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
    SocketStack stack;
    const int peer = connectTo(stack, listener);

    EXPECT_TRUE(stack.engine.isConnected());
    EXPECT_EQ(stack.completions, std::vector<int>{0});
    EXPECT_TRUE(stack.sink.sawStatus("Remote host connection complete.", 0));
    EXPECT_TRUE(runUntil(stack, [&] { return stack.readyCount > 0; }));
    EXPECT_EQ(stack.get("SocketHandle"), std::to_string(stack.engine.socketHandle()));
    EXPECT_NE(stack.get("LocalPort"), "0");

    // The recording shows what went out, block by block: one block here.
    stack.set("RecordToString=on");
    EXPECT_EQ(stack.sendBlocking("ping"), 0);
    EXPECT_EQ(receiveSome(peer), "ping");
    EXPECT_EQ(stack.get("RecordToString"), "\r\nexpect -exact \"ping\"\r\n");
    stack.set("RecordToString=off");
    sendAll(peer, "pong");
    EXPECT_TRUE(runUntil(stack, [&] { return stack.received == "pong"; }));
    // A layer that cannot store what came is reported through Error.
    stack.dataResult = 200;
    sendAll(peer, "more");
    EXPECT_TRUE(runUntil(stack, [&] { return !stack.sink.errors.empty(); }));
    EXPECT_EQ(stack.sink.errors.front().text, "Out of memory in DataIn [TCXMsg].");
    EXPECT_EQ(stack.sink.errors.front().code, 200);

    EXPECT_EQ(stack.engine.connect(), 104);
    EXPECT_EQ(stack.lastErrorText(),
              "Already connected. If you want to reconnect, close the current connection first.");
    EXPECT_EQ(stack.engine.setRemotePort(1), 100);
    EXPECT_EQ(stack.engine.setRemoteHost("127.0.0.2"), 101);
    EXPECT_EQ(stack.engine.setLocalPort(1), 106);
    EXPECT_TRUE(stack.engine.socketConnected());

    EXPECT_EQ(stack.engine.disconnect(), 0);
    EXPECT_EQ(stack.disconnects, std::vector<int>{0});
    EXPECT_FALSE(stack.engine.isOpen());
    EXPECT_EQ(stack.engine.socketHandle(), -1);
    EXPECT_EQ(receiveSome(peer), "");  // the peer sees the end of the stream
    // With nothing open a close does nothing and reports nothing.
    EXPECT_EQ(stack.engine.disconnect(), 0);
    EXPECT_EQ(stack.engine.close(), 0);
    EXPECT_EQ(stack.disconnects.size(), 1u);
}

TEST_P(SocketEngineIoTest, RefusedConnectReportsTheSocketError) {
    Listener listener;
    const int port = listener.port();
    listener.close();
    SocketStack stack;
    prepare(stack, port);
    EXPECT_EQ(stack.connectAndWait(), 10061);
    EXPECT_EQ(stack.lastErrorText(), "[10061] Connection refused");
    EXPECT_EQ(stack.completions, std::vector<int>{10061});
    EXPECT_TRUE(stack.sink.sawStatus("Remote host connection failed.", 10061));
    EXPECT_FALSE(stack.engine.socketOpen());
    EXPECT_TRUE(stack.disconnects.empty());
}

TEST_P(SocketEngineIoTest, HalfCloseDeliversTheLastBytesThenDisconnects) {
    Listener listener;
    SocketStack stack;
    const int peer = connectTo(stack, listener);
    sendAll(peer, "last words");
    ::shutdown(peer, SHUT_WR);
    EXPECT_TRUE(runUntil(stack, [&] { return !stack.engine.socketOpen(); }));
    EXPECT_EQ(stack.received, "last words");
    EXPECT_TRUE(stack.sink.sawStatus("Remote host disconnected.", 0));
    EXPECT_EQ(stack.disconnects, std::vector<int>{0});
}

TEST_P(SocketEngineIoTest, PeerResetIsReportedWithItsCode) {
    Listener listener;
    SocketStack stack;
    const int peer = connectTo(stack, listener);
    sendAll(peer, "x");
    ASSERT_TRUE(runUntil(stack, [&] { return stack.received == "x"; }));
    const ::linger abortive{1, 0};
    ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    listener.closeAccepted(peer);  // with linger 0 the close resets
    EXPECT_TRUE(runUntil(stack, [&] { return !stack.engine.socketOpen(); }));
    EXPECT_EQ(stack.disconnects, std::vector<int>{10054});
    EXPECT_TRUE(stack.sink.sawStatus("Remote host disconnected.", 10054));
}

TEST_P(SocketEngineIoTest, LinesArriveByteAtATimeAndSplitAcrossReads) {
    Listener listener;
    SocketStack stack;
    const int peer = connectTo(stack, listener);
    stack.engine.setEndOfLine("\r\n");
    for (char c : std::string("line1\r\nline2\r\nhalf")) {
        sendAll(peer, std::string(1, c));
        for (int i = 0; i < 3; ++i) stack.doEvents();
    }
    EXPECT_TRUE(runUntil(stack, [&] { return stack.lines().size() == 2; }));
    EXPECT_EQ(stack.lines(), (std::vector<std::string>{"line1", "line2"}));
    // The unfinished line goes up when the peer ends the stream.
    ::shutdown(peer, SHUT_WR);
    EXPECT_TRUE(runUntil(stack, [&] { return !stack.engine.socketOpen(); }));
    ASSERT_FALSE(stack.pieces.empty());
    EXPECT_EQ(stack.pieces.back(), (std::pair<std::string, bool>{"half", false}));
}

TEST_P(SocketEngineIoTest, SplitCrlfPairsACarriageReturnWithALineFeedInTheNextRead) {
    Listener listener;
    SocketStack stack;
    const int peer = connectTo(stack, listener);
    stack.set("SplitCRLF=True");
    stack.engine.setEndOfLine("\n");
    sendAll(peer, "a\r");
    ASSERT_TRUE(runUntil(stack, [&] { return stack.lines().size() == 1; }));
    sendAll(peer, "\nb\r\n");
    ASSERT_TRUE(runUntil(stack, [&] { return stack.lines().size() == 2; }));
    for (int i = 0; i < 5; ++i) stack.doEvents();
    EXPECT_EQ(stack.lines(), (std::vector<std::string>{"a", "b"}));
}

TEST_P(SocketEngineIoTest, AcceptDataFalseHoldsBytesUntilTrue) {
    Listener listener;
    SocketStack stack;
    const int peer = connectTo(stack, listener);
    stack.engine.setAcceptData(false);
    sendAll(peer, "held back");
    // The peer's orderly end waits behind the bytes, too.
    ::shutdown(peer, SHUT_WR);
    for (int i = 0; i < 10; ++i) stack.doEvents();
    EXPECT_EQ(stack.received, "");
    EXPECT_TRUE(stack.engine.socketOpen());
    EXPECT_TRUE(stack.disconnects.empty());

    stack.engine.setAcceptData(true);
    EXPECT_TRUE(runUntil(stack, [&] { return !stack.engine.socketOpen(); }));
    EXPECT_EQ(stack.received, "held back");
    EXPECT_EQ(stack.disconnects, std::vector<int>{0});
}

TEST_P(SocketEngineIoTest, PausingInsideDeliveryKeepsTheRestInOrder) {
    Listener listener;
    SocketStack stack;
    const int peer = connectTo(stack, listener);
    stack.engine.setEndOfLine("\n");
    // One line per pause, as a single-packet consumer takes them.
    stack.whenData = [&](std::string_view) { stack.engine.setAcceptData(false); };
    sendAll(peer, "1\n2\n3\n");
    ASSERT_TRUE(runUntil(stack, [&] { return stack.lines().size() == 1; }));
    for (int i = 0; i < 5; ++i) stack.doEvents();
    EXPECT_EQ(stack.lines().size(), 1u);
    for (std::size_t expected = 2; expected <= 3; ++expected) {
        stack.engine.setAcceptData(true);
        ASSERT_TRUE(runUntil(stack, [&] { return stack.lines().size() == expected; }));
    }
    EXPECT_EQ(stack.lines(), (std::vector<std::string>{"1", "2", "3"}));
}

TEST_P(SocketEngineIoTest, DisconnectFromInsideDeliveryWaitsForTheHandler) {
    Listener listener;
    SocketStack stack;
    const int peer = connectTo(stack, listener);
    stack.engine.setEndOfLine("\n");
    stack.whenData = [&](std::string_view line) {
        if (line == "bye") {
            EXPECT_EQ(stack.engine.disconnect(), 0);
            // Still open, and nothing reported yet: the read handler is running.
            EXPECT_TRUE(stack.engine.socketOpen());
            EXPECT_TRUE(stack.disconnects.empty());
        }
    };
    sendAll(peer, "hello\nbye\nafter\n");
    EXPECT_TRUE(runUntil(stack, [&] { return !stack.engine.socketOpen(); }));
    // The deferred close ran once, when the handler returned.
    EXPECT_EQ(stack.disconnects, std::vector<int>{0});
}

TEST_P(SocketEngineIoTest, LargeTransfersBothWays) {
    Listener listener;
    SocketStack stack;
    const int peer = connectTo(stack, listener);
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
    const int code = stack.sendBlocking(payload);
    EXPECT_EQ(code, 0) << stack.lastErrorText();
    EXPECT_TRUE(runUntil(
        stack, [&] { return stack.received.size() >= payload.size(); }, 30s));
    echo.join();
    EXPECT_TRUE(stack.received == payload);
}

TEST_P(SocketEngineIoTest, BytesGoIntoTheListenersRoomAndTheWaitIsForTheRestOfIt) {
    // With a receive buffer far smaller than what is awaited, the system
    // caps the mark and still wakes us when the buffer fills: nothing stalls.
    const std::pair<const char*, int> cases[] = {{"InBufferSize=1048576", 249000}, {"InBufferSize=4096", 0}};
    for (const auto& [bufferSize, mark] : cases) {
        Listener listener;
        SocketStack stack;
        stack.set(bufferSize);
        const int peer = connectTo(stack, listener);
        setBlocking(peer);
        const int fd = stack.engine.socketHandle();
        auto lowWater = [fd] {
            int value = 0;
            socklen_t length = sizeof value;
            ::getsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &value, &length);
            return value;
        };
        stack.roomWanted = 250000;
        stack.roomSize = 100000;
        std::string sent;
        auto send = [&](std::size_t count, char letter) {
            const std::string part(count, letter);
            sent += part;
            std::thread sender([&] { sendAll(peer, part); });
            EXPECT_TRUE(runUntil(stack, [&] { return stack.received.size() == sent.size(); })) << bufferSize;
            sender.join();
        };
        // The first bytes come up as ever; the wait that follows is for the
        // rest of what is awaited.
        send(1000, 'a');
        EXPECT_EQ(stack.inPlace, 0u);
        if (mark != 0) {
            EXPECT_EQ(lowWater(), mark);
        }
        EXPECT_GT(lowWater(), 1) << bufferSize;
        // The rest goes into the room; what comes after it comes up as ever.
        send(252000, 'b');
        // All of it but at most a tail too short to be worth waiting for.
        EXPECT_LE(stack.inPlace, 249000u);
        EXPECT_GE(stack.inPlace, 249000u - 32 * 1024) << bufferSize;
        EXPECT_EQ(stack.pieces.back().first.back(), 'b');
        EXPECT_EQ(lowWater(), 1);
        EXPECT_TRUE(stack.received == sent);
        ::close(peer);
    }
}

TEST_P(SocketEngineIoTest, DebugLogAndRecordingFormats) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("morvane-log-" + std::to_string(::getpid()) + (GetParam() ? "-m" : "-s"));
    std::filesystem::create_directories(dir);
    const auto log = dir / "debug.log";
    const auto script = dir / "session.exp";
    std::filesystem::remove(log);
    std::filesystem::remove(script);

    Listener listener;
    SocketStack stack;
    stack.set("LogDebugFile=" + log.string());
    stack.set("RecordToFile=" + script.string());
    stack.set("RecordToString=on");
    const int peer = connectTo(stack, listener);
    ASSERT_EQ(stack.sendBlocking("GET $x\r\n"), 0);
    EXPECT_EQ(receiveSome(peer), "GET $x\r\n");
    sendAll(peer, std::string("ok\0", 3));
    ASSERT_TRUE(runUntil(stack, [&] { return stack.received.size() == 3; }));
    stack.context.logDebugText("URL: ws://127.0.0.1/");

    std::ifstream file(log, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::string n = std::to_string(stack.context.instanceNumber());
    const std::string stamp = R"(\[\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\] )";
    const std::regex expected("\\[" + n + "\\]" + stamp + R"(------SEND------\(8 bytes\)\r\nGET \$x\r\n\r\n)" + "\\[" +
                              n + "\\]" + stamp + R"(------RECEIVE------\(3 bytes\)\r\nok\x00\r\n)" + "\\[" + n +
                              "\\]" + stamp + R"(URL: ws://127\.0\.0\.1/\r\n)");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;

    const std::string recording = "\r\nexpect -exact \"GET \\$x\r\n\"\r\n\r\nsend -nonewline \"ok\\000\"\r\n";
    EXPECT_EQ(stack.get("RecordToString"), recording);
    std::ifstream scriptFile(script, std::ios::binary);
    const std::string scriptText((std::istreambuf_iterator<char>(scriptFile)), std::istreambuf_iterator<char>());
    EXPECT_EQ(scriptText, recording);
    stack.engine.disconnect();
    std::filesystem::remove_all(dir);
}

TEST_P(SocketEngineIoTest, SocketOptionsReachTheSocket) {
    Listener listener;
    SocketStack stack;
    stack.set("TcpNoDelay=True");
    stack.set("TCPKeepAlive=True");
    stack.set("KeepAliveTime=30000");
    stack.set("InBufferSize=100000");
    connectTo(stack, listener);
    const int fd = stack.engine.socketHandle();
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
    EXPECT_EQ(stack.get("InBufferSize"), std::to_string(value / 2));
}

TEST_P(SocketEngineIoTest, LingerFalseResetsOnClose) {
    Listener listener;
    SocketStack stack;
    stack.set("Linger=False");
    const int peer = connectTo(stack, listener);
    stack.engine.disconnect();
    char byte;
    pollfd p{peer, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    EXPECT_EQ(::recv(peer, &byte, 1, 0), -1);
    EXPECT_EQ(errno, ECONNRESET);
}

TEST(SocketEngineChecksTest, ChecksThatComeBeforeAnySocket) {
    SocketStack stack;
    EXPECT_EQ(stack.engine.connect(), 102);
    EXPECT_EQ(stack.lastErrorText(), "The RemoteHost address is invalid (0.0.0.0).");

    ASSERT_EQ(stack.engine.setRemoteHost("127.0.0.1"), 0);
    EXPECT_EQ(stack.engine.connect(), 116);
    EXPECT_EQ(stack.lastErrorText(), "RemotePort can't be zero. Please specify a valid service port number.");

    stack.engine.setRemotePort(80);
    const int code = stack.engine.setRemoteHost("no-such-host.invalid");
    EXPECT_TRUE(code >= 11001 && code <= 11004) << code;
    EXPECT_EQ(stack.lastErrorText().substr(0, 7), "[" + std::to_string(code) + "]");
    EXPECT_EQ(stack.get("RemoteHostName"), "no-such-host.invalid");
    EXPECT_EQ(stack.engine.connect(), 102);
    EXPECT_FALSE(stack.engine.socketOpen());
    EXPECT_TRUE(stack.sink.statuses.empty());

    std::size_t accepted = 99;
    EXPECT_EQ(stack.engine.send({reinterpret_cast<const std::uint8_t*>("x"), 1}, &accepted), 10057);
    EXPECT_EQ(accepted, 0u);
    EXPECT_EQ(stack.lastErrorText(), "[10057] Socket is not connected");
}

TEST(SocketEngineChecksTest, FirewallTargetIsCheckedFirst) {
    SocketStack stack;
    stack.set("FirewallType=1");
    EXPECT_EQ(stack.engine.connect(), 102);
    EXPECT_EQ(stack.lastErrorText(), "The FirewallHost address is invalid (0.0.0.0).");
    stack.set("FirewallHost=127.0.0.1");
    stack.set("FirewallPort=0");
    EXPECT_EQ(stack.engine.connect(), 116);
    EXPECT_EQ(stack.lastErrorText(), "The FirewallPort is invalid (0).");
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
        SocketStack stack;
        stack.set("TimeoutInMilliseconds=True");
        stack.waiter().setTimeout(300);
        stack.engine.setRemoteHost("127.0.0.1");
        stack.engine.setRemotePort(server.port());
        const auto started = Clock::now();
        EXPECT_EQ(stack.connectAndWait(), 301);
        EXPECT_EQ(stack.lastErrorText(), "Timeout.");
        EXPECT_FALSE(stack.engine.socketOpen());
        EXPECT_LT(Clock::now() - started, 10s);
    }
    {
        SocketStack stack;
        stack.set("TimeoutInMilliseconds=True");
        stack.waiter().setTimeout(0);
        stack.set("ConnectionTimeout=200");
        stack.engine.setRemoteHost("127.0.0.1");
        stack.engine.setRemotePort(server.port());
        EXPECT_EQ(stack.connectAndWait(), 301);
        EXPECT_EQ(stack.lastErrorText(), "Timeout.");
        // The connection phase's limit does not stay behind.
        EXPECT_EQ(stack.waiter().timeout(), 0);
    }
}

TEST(SocketEngineWaitTest, InterruptEndsABlockingConnect) {
    SilentServer server;
    SocketStack stack;
    stack.waiter().setTimeout(0);
    stack.engine.setRemoteHost("127.0.0.1");
    stack.engine.setRemotePort(server.port());
    stack.waiter().interrupt();  // nothing in progress: ignored
    LoopTimer timer(100ms, [&] { stack.waiter().interrupt(); });
    EXPECT_EQ(stack.connectAndWait(), 301);
    EXPECT_EQ(stack.lastErrorText(), "Interrupted.");
    EXPECT_TRUE(stack.waiter().interrupted());
    EXPECT_FALSE(stack.engine.socketOpen());
}

TEST(SocketEngineWaitTest, InterruptEndsABlockingSendAndIsConsumed) {
    Listener listener;
    SocketStack stack;
    stack.waiter().setTimeout(0);  // no deadline: only the interrupt ends it
    stack.engine.setRemoteHost("127.0.0.1");
    stack.engine.setRemotePort(listener.port());
    ASSERT_EQ(stack.connectAndWait(), 0);
    ASSERT_GE(listener.accept(), 0);  // and never read from
    LoopTimer timer(150ms, [&] { stack.waiter().interrupt(); });
    const std::string big(64 << 20, 'z');
    EXPECT_EQ(stack.sendBlocking(big), 301);
    EXPECT_EQ(stack.lastErrorText(), "Interrupted.");
    EXPECT_TRUE(stack.waiter().interrupted());
    EXPECT_TRUE(stack.waiter().waitStep());  // the request was used up
    EXPECT_TRUE(stack.engine.socketConnected());
}

TEST(SocketEngineWaitTest, QuitRequestEndsAWaitAndStaysPending) {
    SilentServer server;
    SocketStack stack;
    stack.waiter().setTimeout(0);
    stack.engine.setRemoteHost("127.0.0.1");
    stack.engine.setRemotePort(server.port());
    LoopTimer timer(50ms, [] { platform::loop::threadLoop().postQuit(3); });
    EXPECT_EQ(stack.connectAndWait(), 301);
    auto& loop = platform::loop::threadLoop();
    EXPECT_TRUE(loop.quitPending());
    EXPECT_EQ(loop.run(), 3);
}

TEST(SocketEngineWaitTest, RateLimitSpacesTheSends) {
    Listener listener;
    SocketStack stack;
    stack.engine.setRemoteHost("127.0.0.1");
    stack.engine.setRemotePort(listener.port());
    ASSERT_EQ(stack.connectAndWait(), 0);
    const int peer = listener.accept();
    stack.set("MaxTransferRate=20000");
    const std::string block(30000, 'r');
    const auto started = Clock::now();
    ASSERT_EQ(stack.sendBlocking(block), 0);
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
        SocketStack stack;
        stack.set("TimeoutInMilliseconds=True");
        stack.waiter().setTimeout(1500);
        stack.set(absolute ? "AbsoluteTimeout=True" : "AbsoluteTimeout=False");
        stack.engine.setRemoteHost("127.0.0.1");
        stack.engine.setRemotePort(listener.port());
        ASSERT_EQ(stack.connectAndWait(), 0);
        ASSERT_GE(listener.accept(), 0);
        // About two and a half seconds of steady progress, a second per step.
        stack.set("MaxTransferRate=2000");
        const std::string block(5000, 'p');
        const int code = stack.sendBlocking(block);
        if (absolute) {
            EXPECT_EQ(code, 301);
            EXPECT_EQ(stack.lastErrorText(), "Timeout.");
        } else {
            EXPECT_EQ(code, 0) << stack.lastErrorText();
        }
    }
}

TEST(SocketEngineWaitTest, MaxReceiveDataTimeLetsOtherEventsIn) {
    Listener listener;
    SocketStack stack;
    stack.set("MaxLineLength=64");
    stack.set("MaxReceiveDataTime=3");
    stack.engine.setRemoteHost("127.0.0.1");
    stack.engine.setRemotePort(listener.port());
    ASSERT_EQ(stack.connectAndWait(), 0);
    const int peer = listener.accept();
    stack.engine.setEndOfLine("\n");

    std::size_t linesWhenOtherEventRan = 0;
    std::unique_ptr<LoopTimer> other;
    stack.whenData = [&](std::string_view) {
        std::this_thread::sleep_for(1ms);
        if (!other) other = std::make_unique<LoopTimer>(1ms, [&] { linesWhenOtherEventRan = stack.lines().size(); });
    };
    std::string lines;
    for (int i = 0; i < 100; ++i) lines += "line " + std::to_string(i % 10) + "\n";
    sendAll(peer, lines);
    ASSERT_TRUE(runUntil(stack, [&] { return stack.lines().size() == 100; }));
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
    SocketStack stack;
    stack.set("LocalHost=127.0.0.1");
    stack.set("LocalPort=" + std::to_string(freePort));
    stack.set("ShareLocalPort=True");
    stack.engine.setRemoteHost("127.0.0.1");
    stack.engine.setRemotePort(listener.port());
    ASSERT_EQ(stack.connectAndWait(), 0) << stack.lastErrorText();
    int peerPort = 0;
    ASSERT_GE(listener.accept(&peerPort), 0);
    EXPECT_EQ(peerPort, freePort);
    EXPECT_EQ(stack.get("LocalPort"), std::to_string(freePort));
    stack.engine.disconnect();

    Listener listener6(AF_INET6);
    if (!listener6.ok()) GTEST_SKIP() << "no IPv6 loopback here";
    for (std::string_view mode : {"True", "2"}) {
        SocketStack stack6;
        stack6.set(std::string("UseIPv6=") + std::string(mode));
        ASSERT_EQ(stack6.engine.setRemoteHost("::1"), 0);
        EXPECT_TRUE(stack6.engine.remoteAddress().isIPv6());
        stack6.engine.setRemotePort(listener6.port());
        EXPECT_EQ(stack6.connectAndWait(), 0) << stack6.lastErrorText();
        EXPECT_GE(listener6.accept(), 0);
    }
}

}  // namespace
}  // namespace morvane
