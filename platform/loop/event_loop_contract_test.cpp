// The behaviour every backend of the message loop owes the control, run
// against each of them: the control's blocking calls must not be able to tell
// whether they run under the native loop or inside the Qt window.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "platform/loop/native_event_loop.h"
#if TALTRIX_LOOP_TEST_QT
#include "platform/loop/qt_event_loop.h"
#endif

namespace platform::loop {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kSocketMessage = kMsgUser + 7;

struct Backend {
    const char* name;
    std::unique_ptr<EventLoop> (*make)();
};

const Backend kBackends[] = {
    {"Native", [] { return std::unique_ptr<EventLoop>(std::make_unique<NativeEventLoop>()); }},
#if TALTRIX_LOOP_TEST_QT
    {"Qt", [] { return std::unique_ptr<EventLoop>(std::make_unique<QtEventLoop>()); }},
#endif
};

struct Recorder : MessageTarget {
    std::vector<Message> seen;
    std::function<void(const Message&)> also;
    void onMessage(const Message& message) override {
        seen.push_back(message);
        if (also) also(message);
    }
    std::vector<std::uint32_t> socketEvents() const {
        std::vector<std::uint32_t> events;
        for (const auto& m : seen) {
            if (m.id == kSocketMessage) events.push_back(socketEventOf(m.lParam));
        }
        return events;
    }
    long ticks(std::uintptr_t timerId) const {
        return std::count_if(seen.begin(), seen.end(),
                             [timerId](const Message& m) { return m.id == kMsgTimer && m.wParam == timerId; });
    }
};

struct Fd {
    int fd = -1;
    explicit Fd(int value = -1) : fd(value) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    void reset() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

void setNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

class LoopContract : public ::testing::TestWithParam<Backend> {
protected:
    // Wait steps until the predicate holds; the bound keeps a broken loop from
    // hanging the suite, it is not a deadline the loop must meet.
    template <typename Predicate>
    bool pumpUntil(Predicate done, WaitOptions options = {}) {
        for (int step = 0; step < 500 && !done(); ++step) {
            if (loop.waitStep(10ms, options) == WaitOutcome::kFailed) return false;
        }
        return done();
    }

    std::unique_ptr<EventLoop> owned = GetParam().make();
    EventLoop& loop = *owned;
    Recorder recorder;
    TargetId target = loop.createTarget(recorder);
};

// --- posted messages and rounds ---------------------------------------------

TEST_P(LoopContract, PostedMessagesArriveInOrderWithTheirParameters) {
    for (std::uintptr_t i = 0; i < 5; ++i) loop.post({target, kMsgUser + 1, i, -static_cast<std::intptr_t>(i)});
    EXPECT_EQ(loop.waitStep(0ms), WaitOutcome::kOk);
    ASSERT_EQ(recorder.seen.size(), 5u);
    for (std::uintptr_t i = 0; i < 5; ++i) {
        EXPECT_EQ(recorder.seen[i].target, target);
        EXPECT_EQ(recorder.seen[i].wParam, i);
        EXPECT_EQ(recorder.seen[i].lParam, -static_cast<std::intptr_t>(i));
    }
}

TEST_P(LoopContract, DestroyedTargetsRefusePostsAndLoseWhatWasQueued) {
    EXPECT_FALSE(loop.post({target + 100, kMsgUser, 0, 0}));
    loop.post({target, kMsgUser, 0, 0});
    loop.destroyTarget(target);
    EXPECT_FALSE(loop.targetExists(target));
    EXPECT_FALSE(loop.post({target, kMsgUser, 0, 0}));
    loop.waitStep(0ms);
    EXPECT_TRUE(recorder.seen.empty());
}

TEST_P(LoopContract, MessagesPostedDuringARoundWaitForTheNextStep) {
    recorder.also = [&](const Message& m) {
        if (m.wParam < 3) loop.post({target, kMsgUser, m.wParam + 1, 0});
    };
    loop.post({target, kMsgUser, 0, 0});
    for (std::size_t step = 1; step <= 4; ++step) {
        loop.waitStep(0ms);
        EXPECT_EQ(recorder.seen.size(), step);
    }
}

TEST_P(LoopContract, FilteredStepLeavesOtherTargetsQueuedInOrder) {
    Recorder other;
    const TargetId otherTarget = loop.createTarget(other);
    loop.post({otherTarget, kMsgUser, 1, 0});
    loop.post({target, kMsgUser, 2, 0});
    loop.post({otherTarget, kMsgUser, 3, 0});
    EXPECT_EQ(loop.waitStep(0ms, {target}), WaitOutcome::kOk);
    EXPECT_EQ(loop.waitStep(5ms, {target}), WaitOutcome::kOk);
    EXPECT_EQ(recorder.seen.size(), 1u);
    EXPECT_TRUE(other.seen.empty());
    loop.waitStep(0ms);
    ASSERT_EQ(other.seen.size(), 2u);
    EXPECT_EQ(other.seen[0].wParam, 1u);
    EXPECT_EQ(other.seen[1].wParam, 3u);
}

TEST_P(LoopContract, NestedWaitStepsFromAHandlerDispatchTheRestInOrder) {
    std::vector<std::uintptr_t> order;
    recorder.also = [&](const Message& m) {
        order.push_back(m.wParam);
        EXPECT_TRUE(loop.insideDispatch());
        if (m.wParam == 1) loop.waitStep(0ms);  // a blocking call inside a handler
    };
    for (std::uintptr_t i = 1; i <= 3; ++i) loop.post({target, kMsgUser, i, 0});
    EXPECT_FALSE(loop.insideDispatch());
    loop.waitStep(0ms);
    EXPECT_EQ(order, (std::vector<std::uintptr_t>{1, 2, 3}));
    EXPECT_FALSE(loop.insideDispatch());
}

// --- outcomes and quit ------------------------------------------------------

TEST_P(LoopContract, CloseMessageAndVanishedTargetEndTheStep) {
    loop.post({target, kMsgClose, 0, 0});
    EXPECT_EQ(loop.waitStep(0ms), WaitOutcome::kTargetClosed);
    recorder.also = [&](const Message&) { loop.destroyTarget(target); };
    loop.post({target, kMsgUser, 0, 0});
    EXPECT_EQ(loop.waitStep(0ms, {target}), WaitOutcome::kTargetClosed);
    EXPECT_EQ(loop.waitStep(0ms, {target}), WaitOutcome::kTargetClosed);
}

TEST_P(LoopContract, QuitStaysPendingThroughNestedStepsUntilRunConsumesIt) {
    loop.post({target, kMsgUser, 0, 0});
    loop.postQuit(7);
    EXPECT_TRUE(loop.quitPending());
    EXPECT_EQ(loop.waitStep(0ms), WaitOutcome::kQuit);
    EXPECT_EQ(loop.waitStep(10ms), WaitOutcome::kQuit);
    EXPECT_TRUE(recorder.seen.empty());
    EXPECT_EQ(loop.run(), 7);
    EXPECT_FALSE(loop.quitPending());
    EXPECT_EQ(loop.waitStep(0ms), WaitOutcome::kOk);
    EXPECT_EQ(recorder.seen.size(), 1u);
}

TEST_P(LoopContract, QuitFromAHandlerStopsTheRoundAndUnwindsNestedSteps) {
    std::vector<WaitOutcome> nested;
    recorder.also = [&](const Message& m) {
        if (m.wParam == 0) {
            loop.postQuit(1);
            nested.push_back(loop.waitStep(0ms));
        }
    };
    loop.post({target, kMsgUser, 0, 0});
    loop.post({target, kMsgUser, 1, 0});
    EXPECT_EQ(loop.waitStep(0ms), WaitOutcome::kQuit);
    EXPECT_EQ(recorder.seen.size(), 1u);
    EXPECT_EQ(nested, std::vector<WaitOutcome>{WaitOutcome::kQuit});
    EXPECT_EQ(loop.run(), 1);
}

TEST_P(LoopContract, AsyncQuitWakesASleepingRun) {
    std::thread other([&] {
        std::this_thread::sleep_for(20ms);
        loop.postQuitAsync(3);
    });
    EXPECT_EQ(loop.run(), 3);
    other.join();
}

// --- timers -----------------------------------------------------------------

TEST_P(LoopContract, TimerTicksRepeatUntilKilled) {
    ASSERT_TRUE(loop.setTimer(target, 42, 1ms));
    ASSERT_TRUE(pumpUntil([&] { return recorder.ticks(42) >= 3; }));
    EXPECT_TRUE(loop.killTimer(target, 42));
    const auto after = recorder.ticks(42);
    for (int i = 0; i < 5; ++i) loop.waitStep(2ms);
    EXPECT_EQ(recorder.ticks(42), after);
    EXPECT_FALSE(loop.killTimer(target, 42));
}

TEST_P(LoopContract, SettingARunningTimerAgainRestartsIt) {
    ASSERT_TRUE(loop.setTimer(target, 3, 1h));
    ASSERT_TRUE(loop.setTimer(target, 3, 1ms));
    EXPECT_TRUE(pumpUntil([&] { return recorder.ticks(3) >= 2; }));
}

TEST_P(LoopContract, TicksDoNotPileUpWhileOneIsQueued) {
    Recorder other;
    const TargetId otherTarget = loop.createTarget(other);
    loop.setTimer(target, 1, 1ms);
    // Steps filtered to another target leave the tick queued while many more
    // periods pass.
    for (int i = 0; i < 10; ++i) loop.waitStep(2ms, {otherTarget});
    loop.killTimer(target, 1);
    std::this_thread::sleep_for(3ms);
    loop.waitStep(0ms);
    EXPECT_TRUE(recorder.seen.empty()) << "the kill dropped the queued tick";

    loop.setTimer(target, 1, 1ms);
    for (int i = 0; i < 10; ++i) loop.waitStep(2ms, {otherTarget});
    std::this_thread::sleep_for(3ms);
    const auto pending = recorder.ticks(1);
    loop.waitStep(0ms);
    EXPECT_EQ(pending, 0);
    EXPECT_EQ(recorder.ticks(1), 1);
}

TEST_P(LoopContract, KilledTimersAndDestroyedTargetsTickNoMore) {
    Recorder other;
    const TargetId otherTarget = loop.createTarget(other);
    loop.setTimer(target, 5, 1ms);
    loop.setTimer(otherTarget, 5, 1ms);
    ASSERT_TRUE(pumpUntil([&] { return recorder.ticks(5) > 0 && other.ticks(5) > 0; }));
    loop.killTimer(target, 5);
    loop.destroyTarget(otherTarget);
    recorder.seen.clear();
    other.seen.clear();
    for (int i = 0; i < 5; ++i) loop.waitStep(2ms);
    EXPECT_TRUE(recorder.seen.empty());
    EXPECT_TRUE(other.seen.empty());
    EXPECT_FALSE(loop.setTimer(otherTarget, 5, 1ms));
}

// --- sockets ----------------------------------------------------------------

class SocketPairContract : public LoopContract {
protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        mine.fd = fds[0];
        peer.fd = fds[1];
        setNonBlocking(mine.fd);
    }
    Fd mine, peer;
};

TEST_P(SocketPairContract, ReadIsReportedOnceUntilRearmed) {
    loop.watchSocket(mine.fd, target, kSocketMessage, kSocketRead);
    ASSERT_EQ(::write(peer.fd, "abc", 3), 3);
    ASSERT_TRUE(pumpUntil([&] { return !recorder.seen.empty(); }));
    EXPECT_EQ(recorder.seen[0].wParam, static_cast<std::uintptr_t>(mine.fd));
    EXPECT_EQ(socketEventOf(recorder.seen[0].lParam), kSocketRead);
    EXPECT_EQ(socketErrorOf(recorder.seen[0].lParam), 0);
    // Unread data does not raise the event again until the owner re-arms,
    // nor keep waking the loop meanwhile: the steps sleep their time out.
    const auto before = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) loop.waitStep(10ms);
    EXPECT_GE(std::chrono::steady_clock::now() - before, 80ms) << "the unread data keeps waking the loop";
    EXPECT_EQ(recorder.seen.size(), 1u);
    loop.rearmSocket(mine.fd, kSocketRead);
    ASSERT_TRUE(pumpUntil([&] { return recorder.seen.size() == 2; }));
    EXPECT_EQ(recorder.socketEvents(), (std::vector<std::uint32_t>{kSocketRead, kSocketRead}));
}

TEST_P(SocketPairContract, WriteIsOneShotAndComesBackAfterRearm) {
    loop.watchSocket(mine.fd, target, kSocketMessage, kSocketWrite);
    ASSERT_TRUE(pumpUntil([&] { return recorder.seen.size() == 1; }));
    loop.waitStep(1ms);
    EXPECT_EQ(recorder.seen.size(), 1u);
    // Fill the socket until it would block, then re-arm: Write returns once
    // the peer drains.
    std::vector<char> chunk(65536, 'x');
    while (::send(mine.fd, chunk.data(), chunk.size(), 0) > 0) {
    }
    ASSERT_EQ(errno, EAGAIN);
    loop.rearmSocket(mine.fd, kSocketWrite);
    loop.waitStep(1ms);
    EXPECT_EQ(recorder.seen.size(), 1u);
    setNonBlocking(peer.fd);
    while (::read(peer.fd, chunk.data(), chunk.size()) > 0) {
    }
    ASSERT_TRUE(pumpUntil([&] { return recorder.seen.size() == 2; }));
    EXPECT_EQ(socketEventOf(recorder.seen[1].lParam), kSocketWrite);
}

TEST_P(SocketPairContract, OrderlyPeerCloseGivesReadThenCloseWithoutError) {
    loop.watchSocket(mine.fd, target, kSocketMessage, kSocketRead | kSocketClose);
    ASSERT_EQ(::write(peer.fd, "z", 1), 1);
    peer.reset();
    ASSERT_TRUE(pumpUntil([&] { return recorder.seen.size() >= 2; }));
    EXPECT_EQ(recorder.socketEvents(), (std::vector<std::uint32_t>{kSocketRead, kSocketClose}));
    EXPECT_EQ(socketErrorOf(recorder.seen[1].lParam), 0);
    // Nothing more arrives, and the hung-up socket does not make steps spin.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(loop.waitStep(1ms), WaitOutcome::kOk);
    EXPECT_EQ(recorder.seen.size(), 2u);
}

TEST_P(SocketPairContract, CloseIsReportedWhileUnreadDataWaits) {
    // The owner paused reading but still learns of the close.
    loop.watchSocket(mine.fd, target, kSocketMessage, kSocketClose);
    ASSERT_EQ(::write(peer.fd, "unread", 6), 6);
    for (int i = 0; i < 3; ++i) loop.waitStep(2ms);
    EXPECT_TRUE(recorder.seen.empty());
    peer.reset();
    ASSERT_TRUE(pumpUntil([&] { return !recorder.seen.empty(); }));
    EXPECT_EQ(recorder.socketEvents(), (std::vector<std::uint32_t>{kSocketClose}));
    EXPECT_EQ(socketErrorOf(recorder.seen[0].lParam), 0);
}

TEST_P(SocketPairContract, ForgettingASocketDropsItsQueuedNotifications) {
    Recorder other;
    const TargetId otherTarget = loop.createTarget(other);
    loop.watchSocket(mine.fd, target, kSocketMessage, kSocketWrite);
    // A filtered step gathers the notification but leaves it queued.
    loop.waitStep(5ms, {otherTarget});
    loop.forgetSocket(mine.fd);
    loop.waitStep(0ms);
    EXPECT_TRUE(recorder.seen.empty());
    EXPECT_TRUE(loop.watchSocket(mine.fd, target, kSocketMessage, kSocketWrite));
    EXPECT_TRUE(pumpUntil([&] { return recorder.seen.size() == 1; }));
    EXPECT_TRUE(loop.watchSocket(mine.fd, target, kSocketMessage, 0));  // stops the watch
    loop.rearmSocket(mine.fd, kSocketWrite);
    loop.waitStep(2ms);
    EXPECT_EQ(recorder.seen.size(), 1u);
}

TEST_P(SocketPairContract, DestroyingTheTargetEndsItsWatches) {
    loop.watchSocket(mine.fd, target, kSocketMessage, kSocketRead);
    loop.destroyTarget(target);
    ASSERT_EQ(::write(peer.fd, "x", 1), 1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(loop.waitStep(2ms), WaitOutcome::kOk);
    EXPECT_TRUE(recorder.seen.empty());
    EXPECT_FALSE(loop.watchSocket(mine.fd, target, kSocketMessage, kSocketRead));
}

// --- TCP on loopback ----------------------------------------------------------

class TcpContract : public LoopContract {
protected:
    static sockaddr_in loopback(std::uint16_t port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }
    // A listening socket on a port from 0; returns the port.
    static std::uint16_t listenOn(Fd& listener) {
        listener.fd = ::socket(AF_INET, SOCK_STREAM, 0);
        auto address = loopback(0);
        EXPECT_EQ(::bind(listener.fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(listener.fd, 4), 0);
        socklen_t length = sizeof address;
        ::getsockname(listener.fd, reinterpret_cast<sockaddr*>(&address), &length);
        return ntohs(address.sin_port);
    }
    static int startConnect(Fd& client, std::uint16_t port) {
        client.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        auto address = loopback(port);
        const int result = ::connect(client.fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        return result == 0 ? 0 : errno;
    }
};

TEST_P(TcpContract, ConnectCompletionIsFollowedByWriteAndAcceptReportsTheListener) {
    Fd listener, client;
    const auto port = listenOn(listener);
    setNonBlocking(listener.fd);
    Recorder server;
    const TargetId serverTarget = loop.createTarget(server);
    loop.watchSocket(listener.fd, serverTarget, kSocketMessage, kSocketAccept);
    const int started = startConnect(client, port);
    ASSERT_TRUE(started == 0 || started == EINPROGRESS);
    loop.watchSocket(client.fd, target, kSocketMessage, kSocketRead | kSocketWrite | kSocketConnect | kSocketClose);
    // The blocking connect's own loop: steps filtered to the connecting target.
    ASSERT_TRUE(pumpUntil([&] { return recorder.seen.size() >= 2; }, {target}));
    EXPECT_EQ(recorder.socketEvents(), (std::vector<std::uint32_t>{kSocketConnect, kSocketWrite}));
    EXPECT_EQ(socketErrorOf(recorder.seen[0].lParam), 0);
    EXPECT_TRUE(server.seen.empty()) << "the listener's report waits for an unfiltered step";
    ASSERT_TRUE(pumpUntil([&] { return !server.seen.empty(); }));
    EXPECT_EQ(server.socketEvents(), (std::vector<std::uint32_t>{kSocketAccept}));

    Fd accepted(::accept(listener.fd, nullptr, nullptr));
    ASSERT_GE(accepted.fd, 0);
    ASSERT_EQ(::write(accepted.fd, "hello", 5), 5);
    ASSERT_TRUE(pumpUntil([&] { return recorder.seen.size() == 3; }));
    EXPECT_EQ(socketEventOf(recorder.seen[2].lParam), kSocketRead);
    char buffer[8];
    EXPECT_EQ(::recv(client.fd, buffer, sizeof buffer, 0), 5);
}

TEST_P(TcpContract, RefusedConnectIsReportedOnceWithItsError) {
    Fd listener, client;
    const auto port = listenOn(listener);
    listener.reset();  // nobody listens on that port any more
    const int started = startConnect(client, port);
    if (started == ECONNREFUSED) GTEST_SKIP() << "refused synchronously";
    loop.watchSocket(client.fd, target, kSocketMessage, kSocketRead | kSocketWrite | kSocketConnect | kSocketClose);
    ASSERT_TRUE(pumpUntil([&] { return !recorder.seen.empty(); }));
    for (int i = 0; i < 3; ++i) loop.waitStep(1ms);
    EXPECT_EQ(recorder.socketEvents(), (std::vector<std::uint32_t>{kSocketConnect}));
    EXPECT_EQ(socketErrorOf(recorder.seen[0].lParam), ECONNREFUSED);
}

TEST_P(TcpContract, PeerResetGivesCloseWithTheResetError) {
    Fd listener, client;
    const auto port = listenOn(listener);
    startConnect(client, port);
    Fd accepted(::accept(listener.fd, nullptr, nullptr));
    ASSERT_GE(accepted.fd, 0);
    loop.watchSocket(client.fd, target, kSocketMessage, kSocketClose);
    linger hard{1, 0};
    ::setsockopt(accepted.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    accepted.reset();
    ASSERT_TRUE(pumpUntil([&] { return !recorder.seen.empty(); }));
    EXPECT_EQ(recorder.socketEvents(), (std::vector<std::uint32_t>{kSocketClose}));
    EXPECT_EQ(socketErrorOf(recorder.seen[0].lParam), ECONNRESET);
}

std::string backendName(const ::testing::TestParamInfo<Backend>& info) { return info.param.name; }

TEST(SocketLParam, CarriesTheEventAndTheError) {
    const auto lParam = makeSocketLParam(kSocketClose, ECONNRESET);
    EXPECT_EQ(socketEventOf(lParam), kSocketClose);
    EXPECT_EQ(socketErrorOf(lParam), ECONNRESET);
}

INSTANTIATE_TEST_SUITE_P(Backends, LoopContract, ::testing::ValuesIn(kBackends), backendName);
INSTANTIATE_TEST_SUITE_P(Backends, SocketPairContract, ::testing::ValuesIn(kBackends), backendName);
INSTANTIATE_TEST_SUITE_P(Backends, TcpContract, ::testing::ValuesIn(kBackends), backendName);

}  // namespace
}  // namespace platform::loop
