// What the Qt backend adds to the loop's contract: the host's Qt events keep
// flowing while the control waits, and the host's own loop drives the
// control's messages when nobody waits.
#include "platform/loop/qt_event_loop.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <thread>
#include <vector>

#include "platform/loop/native_event_loop.h"
#include "platform/loop/thread_loop.h"

namespace platform::loop {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kSocketMessage = kMsgUser + 9;

struct Recorder : MessageTarget {
    std::vector<Message> seen;
    std::function<void(const Message&)> also;
    void onMessage(const Message& message) override {
        seen.push_back(message);
        if (also) also(message);
    }
};

struct SocketPair {
    int mine = -1;
    int peer = -1;
    SocketPair() {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds) == 0) {
            mine = fds[0];
            peer = fds[1];
        }
    }
    ~SocketPair() {
        if (mine >= 0) ::close(mine);
        if (peer >= 0) ::close(peer);
    }
};

// Runs Qt's own event loop, as Taltrix's QApplication::exec() does, until the
// predicate holds (checked on every pass) or a generous bound passes.
template <typename Predicate>
bool runHostLoopUntil(Predicate done) {
    QEventLoop host;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &host, [&] {
        if (done()) host.quit();
    });
    check.start(1);
    QTimer::singleShot(10'000, &host, &QEventLoop::quit);
    host.exec();
    return done();
}

class QtLoopTest : public ::testing::Test {
protected:
    QtEventLoop loop;
    Recorder recorder;
    TargetId target = loop.createTarget(recorder);
};

TEST_F(QtLoopTest, IsValidOnAThreadWithAQtDispatcherOnly) {
    EXPECT_TRUE(loop.valid());
    std::thread plain([] {
        QtEventLoop orphan;
        EXPECT_FALSE(orphan.valid());
        EXPECT_EQ(orphan.waitStep(0ms), WaitOutcome::kFailed);
    });
    plain.join();
}

// A connect on loopback that stays pending: the listener's accept queue is
// full and nobody accepts, so the kernel drops the new handshake.
struct UnansweredConnect {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    std::vector<int> clients;
    int pending = -1;
    UnansweredConnect() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listener, 0) != 0) return;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        for (int i = 0; i < 4; ++i) {
            const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address);
            clients.push_back(client);
        }
        pending = clients.back();
    }
    ~UnansweredConnect() {
        for (int client : clients) ::close(client);
        ::close(listener);
    }
};

TEST_F(QtLoopTest, HostTimersKeepTickingWhileABlockingConnectWaits) {
    UnansweredConnect unanswered;
    ASSERT_GE(unanswered.pending, 0);
    loop.watchSocket(unanswered.pending, target, kSocketMessage, kSocketConnect | kSocketWrite | kSocketClose);
    int hostTicks = 0;
    bool reenteredOk = true;
    QTimer windowTimer;
    QObject::connect(&windowTimer, &QTimer::timeout, [&] {
        ++hostTicks;
        // The host's handler calls back into the control's loop from inside the
        // wait: it may post and even run a step of its own.
        reenteredOk = reenteredOk && !loop.insideDispatch() && loop.post({target, kMsgUser, 0, 0});
        reenteredOk = reenteredOk && loop.waitStep(0ms) != WaitOutcome::kFailed;
    });
    windowTimer.start(2);

    // Connect's own loop: steps for its target until the socket reports.
    auto connected = [&] {
        return std::any_of(recorder.seen.begin(), recorder.seen.end(),
                           [](const Message& m) { return m.id == kSocketMessage; });
    };
    int steps = 0;
    while (hostTicks < 5 && !connected() && steps < 2000) {
        ASSERT_EQ(loop.waitStep(50ms, {target}), WaitOutcome::kOk);
        ++steps;
    }
    EXPECT_GE(hostTicks, 5);
    EXPECT_FALSE(connected());
    EXPECT_TRUE(reenteredOk);
    // The posts from the host's handler reached the waiting target.
    EXPECT_FALSE(recorder.seen.empty());
}

TEST_F(QtLoopTest, TheHostLoopDeliversMessagesTicksAndReadinessWithoutWaitSteps) {
    SocketPair pair;
    ASSERT_GE(pair.mine, 0);
    for (std::uintptr_t i = 0; i < 3; ++i) loop.post({target, kMsgUser, i, 0});
    loop.watchSocket(pair.mine, target, kSocketMessage, kSocketRead);
    ASSERT_EQ(::write(pair.peer, "x", 1), 1);
    loop.setTimer(target, 8, 1ms);
    auto has = [&](std::uint32_t id) {
        return std::any_of(recorder.seen.begin(), recorder.seen.end(), [id](const Message& m) { return m.id == id; });
    };
    ASSERT_TRUE(runHostLoopUntil([&] { return has(kSocketMessage) && has(kMsgTimer); }));
    ASSERT_GE(recorder.seen.size(), 5u);
    for (std::uintptr_t i = 0; i < 3; ++i) EXPECT_EQ(recorder.seen[i].wParam, i) << "posted order kept";
}

TEST_F(QtLoopTest, AFilteredWaitSleepsWhileOtherTargetsHaveWork) {
    Recorder other;
    const TargetId otherTarget = loop.createTarget(other);
    loop.post({otherTarget, kMsgUser, 1, 0});
    bool hostFired = false;
    QTimer::singleShot(30, [&] { hostFired = true; });
    // Were the other target's message to keep Qt from sleeping, the steps
    // would return at once, thousands of times; they wait for the host's timer.
    int steps = 0;
    while (!hostFired && steps < 1000) {
        loop.waitStep(5'000ms, {target});
        ++steps;
    }
    EXPECT_TRUE(hostFired);
    EXPECT_LE(steps, 5);
    EXPECT_TRUE(other.seen.empty());
    // Back in the host's loop, the message goes out.
    EXPECT_TRUE(runHostLoopUntil([&] { return other.seen.size() == 1; }));
}

TEST_F(QtLoopTest, AModalLoopInsideAHandlerStillDeliversMessages) {
    // An event handler that asks the user (a message box runs its own Qt loop)
    // while the control keeps working underneath.
    bool modalSawSecond = false;
    recorder.also = [&](const Message& m) {
        if (m.wParam != 1) return;
        QEventLoop modal;
        QTimer::singleShot(1, [&] { loop.post({target, kMsgUser, 2, 0}); });
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &modal, [&] {
            if (recorder.seen.size() == 2) {
                modalSawSecond = true;
                modal.quit();
            }
        });
        check.start(1);
        QTimer::singleShot(10'000, &modal, &QEventLoop::quit);
        modal.exec();
    };
    loop.post({target, kMsgUser, 1, 0});
    EXPECT_EQ(loop.waitStep(0ms), WaitOutcome::kOk);
    EXPECT_TRUE(modalSawSecond);
    ASSERT_EQ(recorder.seen.size(), 2u);
    EXPECT_EQ(recorder.seen[1].wParam, 2u);
}

TEST_F(QtLoopTest, ACloseDispatchedByTheHostLoopEndsNoStepButReachesItsTarget) {
    loop.post({target, kMsgClose, 0, 0});
    ASSERT_TRUE(runHostLoopUntil([&] { return recorder.seen.size() == 1; }));
    EXPECT_EQ(loop.waitStep(0ms), WaitOutcome::kOk);
}

TEST(QtThreadLoop, InstalledItIsTheThreadsLoop) {
    auto installed = std::make_unique<QtEventLoop>();
    EventLoop* expected = installed.get();
    installThreadLoop(std::move(installed));
    EXPECT_EQ(&threadLoop(), expected);
    Recorder recorder;
    const TargetId target = threadLoop().createTarget(recorder);
    threadLoop().post({target, kMsgUser, 5, 0});
    EXPECT_TRUE(runHostLoopUntil([&] { return recorder.seen.size() == 1; }));
    threadLoop().destroyTarget(target);
    installThreadLoop(std::make_unique<NativeEventLoop>());
    EXPECT_NE(dynamic_cast<NativeEventLoop*>(&threadLoop()), nullptr);
}

}  // namespace
}  // namespace platform::loop

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
