#include "bridge/links/open_connect_link.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "bridge/shot/open_connect_message.h"
#include "tests/support/link_fakes.h"
#include "tests/support/shot_fakes.h"

namespace taltrix::links {
namespace {

using testing::QuietShell;
using testing::runUntil;

class OpenConnectLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(simulator.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&simulator, &QTcpServer::newConnection, [this] { peer = simulator.nextPendingConnection(); });
    }

    void connect() {
        link.checkConnection();
        ASSERT_TRUE(runUntil([&] { return peer != nullptr && link.isUp(); }));
    }

    // Everything the simulator has received by now that holds `piece`.
    std::string receivedWith(std::string_view piece) {
        runUntil([&] { return received.find(piece) != std::string::npos; });
        return std::exchange(received, {});
    }

    QTcpServer simulator;
    QTcpSocket* peer = nullptr;
    std::string received;
    bool monitorReady = false;
    QuietShell shell;
    SimulatorState state;
    testing::RecordingStatus status;
    testing::RecordingWriter device;
    ClubCommandSender clubCommand{state, status, &device};
    OpenConnectReceiver receiver{state, status, clubCommand};
    OpenConnectLink link{shell, receiver,
                         [this] {
                             return OpenConnectEndpoint{"127.0.0.1", simulator.serverPort()};
                         },
                         [this] { return monitorReady; }};

    // From now on the simulator keeps what it receives, what came already too.
    void collect() {
        QTcpSocket* socket = peer;
        received += socket->readAll().toStdString();
        QObject::connect(socket, &QTcpSocket::readyRead,
                         [this, socket] { received += socket->readAll().toStdString(); });
    }
};

std::string numbered(std::int32_t number) { return R"("ShotNumber":)" + std::to_string(number) + ","; }

constexpr std::string_view notReady = R"("LaunchMonitorIsReady":false)";
constexpr std::string_view ready = R"("LaunchMonitorIsReady":true)";

TEST_F(OpenConnectLinkTest, HeartbeatsAtConnectOnEveryChangeAndOnTheTimer) {
    connect();
    collect();
    EXPECT_NE(receivedWith(notReady).find(R"("IsHeartBeat":true)"), std::string::npos);
    EXPECT_EQ(shell.shown.back(), openConnectConnectedText);

    link.readinessChanged();  // nothing changed: nothing sent
    monitorReady = true;
    link.readinessChanged();
    EXPECT_EQ(receivedWith(ready), openConnectHeartbeat(link.shotNumber(), true));

    link.setHeartbeatInterval(50);
    EXPECT_TRUE(receivedWith(ready).starts_with(openConnectHeartbeat(link.shotNumber(), true)));
}

TEST_F(OpenConnectLinkTest, ShotsAreNumberedAndRepliesReachTheDevice) {
    connect();
    collect();
    receivedWith(R"("IsHeartBeat":true)");
    ShotRecord shot;
    const PreciseShot precise{13.1, -1.4};
    const std::int32_t first = link.shotNumber() + 1;
    link.sendShot(shot, precise);
    link.sendShot(shot, precise);
    EXPECT_EQ(receivedWith(numbered(first + 1)),
              openConnectShot(shot, precise, first) + openConnectShot(shot, precise, first + 1));
    EXPECT_EQ(link.lastShotNumber(), first + 1);
    EXPECT_EQ(shell.shown.back(), openConnectDataSentText);

    peer->write(R"({"Code":200}{"Code":201,"Player":{"Club":"I7"}})");
    ASSERT_TRUE(runUntil([&] { return !device.written.empty(); }));
    EXPECT_EQ(device.written.front(), "CLUB7IrLOFT000");

    // The simulator going away is noticed, and the shot counter carries on.
    peer->close();
    ASSERT_TRUE(runUntil([&] { return !link.isUp(); }));
    EXPECT_EQ(shell.shown.back(), openConnectNotConnectedText);
    peer = nullptr;
    connect();
    collect();
    link.sendShot(shot, precise);
    EXPECT_NE(receivedWith(numbered(first + 2)).find(R"("ContainsBallData":true)"), std::string::npos);
}

// A reply that arrived but was not read yet would turn a plain close into a
// reset; the clean close reads it first, so the simulator sees a FIN.
TEST_F(OpenConnectLinkTest, ClosesWithoutAResetEvenWithAReplyUnread) {
    connect();
    peer->write(R"({"Code":200})");
    ASSERT_TRUE(peer->waitForBytesWritten(1000));
    link.closeCleanly();
    EXPECT_EQ(link.state(), sckClosed);

    const int fd = static_cast<int>(peer->socketDescriptor());
    pollfd waiting{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&waiting, 1, 2000), 1);
    char bytes[4096];
    ssize_t got = 0;
    while ((got = ::recv(fd, bytes, sizeof bytes, MSG_DONTWAIT)) > 0) {
    }
    EXPECT_EQ(got, 0) << "errno " << errno;  // 0: an orderly end, not ECONNRESET
    EXPECT_TRUE(device.written.empty());     // what was read while closing is dropped
}

// A run numbers its shots above the last number an earlier run sent, as the
// history kept it; once this run has sent a shot, its own count rules.
TEST_F(OpenConnectLinkTest, NumberingResumesAboveTheLastRun) {
    const std::int32_t fromTheClock = link.shotNumber();
    link.resumeNumbering(std::nullopt);
    EXPECT_GE(link.shotNumber(), fromTheClock);
    EXPECT_LE(link.shotNumber(), fromTheClock + 1);  // the clock may have turned a second
    const std::int64_t lastRun = std::int64_t{fromTheClock} + 1000000;
    link.resumeNumbering(lastRun);
    EXPECT_EQ(link.shotNumber(), lastRun);
    connect();
    collect();
    EXPECT_NE(receivedWith(R"("IsHeartBeat":true)").find(numbered(static_cast<std::int32_t>(lastRun))),
              std::string::npos);
    link.sendShot(ShotRecord{}, PreciseShot{});
    EXPECT_EQ(link.lastShotNumber(), lastRun + 1);
    link.resumeNumbering(std::int64_t{5});
    EXPECT_EQ(link.shotNumber(), lastRun + 1);
}

TEST_F(OpenConnectLinkTest, NoSimulatorListeningIsTriedAgainQuietly) {
    simulator.close();
    link.checkConnection();
    ASSERT_TRUE(runUntil([&] { return link.state() == sckClosed; }));
    EXPECT_FALSE(link.isUp());
    EXPECT_TRUE(shell.shown.empty());  // a failed attempt is no news every 4.5 s
}

}  // namespace
}  // namespace taltrix::links

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
