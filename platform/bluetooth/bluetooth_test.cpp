#include "platform/bluetooth/bluetooth.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <string>

#include "platform/bluetooth/emulator_backend.h"
#include "platform/bluetooth/emulator_devices.h"

namespace taltrix::bluetooth {
namespace {

// Runs the event loop until `done` or five seconds.
bool runUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

TEST(EmulatedDevices, ReadsDevicesAndRefusesMalformedOnes) {
    std::string error;
    const auto devices = parseEmulatedDevices("ES16-A@127.0.0.1:4100,name@with@at@[::1]:4101", error);
    ASSERT_EQ(devices.size(), 2u) << error;
    EXPECT_EQ(devices[0].name, "ES16-A");
    EXPECT_EQ(devices[0].address(), "127.0.0.1:4100");
    EXPECT_EQ(devices[1].name, "name@with@at");
    EXPECT_EQ(devices[1].host, "::1");
    EXPECT_EQ(devices[1].address(), "[::1]:4101");
    for (const char* bad :
         {"", "ES16", "ES16@host", "@h:1", "ES16@h:0", "ES16@h:65536", "ES16@h:12x", "ES16@::1:80", "A@h:1,"}) {
        error.clear();
        EXPECT_TRUE(parseEmulatedDevices(bad, error).empty()) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    EXPECT_EQ(createManager(std::string("serial:/dev/rfcomm0"), error), nullptr);
    EXPECT_NE(createManager(std::string("emulator:ES16@127.0.0.1:1"), error), nullptr);
}

class EmulatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(device_.listen(QHostAddress::LocalHost, 0));
        std::string error;
        option_ = "emulator:ES16-7@127.0.0.1:" + std::to_string(device_.serverPort()) + ",HEADSET@127.0.0.1:9";
        manager_ = createManager(option_, error);
        ASSERT_NE(manager_, nullptr) << error;
        QObject::connect(&device_, &QTcpServer::newConnection, [this] { peer_ = device_.nextPendingConnection(); });
    }

    std::string deviceAddress() const { return "127.0.0.1:" + std::to_string(device_.serverPort()); }

    QTcpServer device_;
    QTcpSocket* peer_ = nullptr;
    std::string option_;
    std::unique_ptr<Manager> manager_;
};

TEST_F(EmulatorTest, DiscoveryFindsTheGivenDevicesAfterStarting) {
    auto discovery = manager_->createDiscovery();
    std::vector<RadioPtr> radios;
    ASSERT_EQ(discovery->listRadios(radios), resultOk);
    ASSERT_EQ(radios.size(), 1u);
    std::vector<std::string> events;
    std::vector<std::pair<std::string, std::string>> found;
    discovery->onDiscoveryStarted = [&](const RadioPtr&) { events.push_back("started"); };
    discovery->onDiscoveryComplete = [&](const RadioPtr& radio, const std::vector<DevicePtr>* devices) {
        events.push_back("complete");
        ASSERT_NE(devices, nullptr);
        for (const DevicePtr& d : *devices) {
            std::string name;
            EXPECT_EQ(d->readName(*radio, name), resultOk);
            found.emplace_back(d->address(), name);
        }
    };
    ASSERT_EQ(discovery->start(radios[0], 1, 0), resultOk);
    EXPECT_TRUE(events.empty());  // nothing happens inside the call
    EXPECT_EQ(discovery->start(radios[0], 1, 0), resultBusy);
    ASSERT_TRUE(runUntil([&] { return events.size() == 2; }));
    EXPECT_EQ(events, (std::vector<std::string>{"started", "complete"}));
    EXPECT_EQ(found, (std::vector<std::pair<std::string, std::string>>{{deviceAddress(), "ES16-7"},
                                                                       {"127.0.0.1:9", "HEADSET"}}));
}

TEST_F(EmulatorTest, ClientCarriesTheSerialStreamBothWays) {
    auto client = manager_->createClient();
    int connectResult = -1;
    std::string received;
    int disconnects = 0;
    client->onConnect = [&](int error) { connectResult = error; };
    client->onData = [&](std::span<const std::uint8_t> bytes) { received.append(bytes.begin(), bytes.end()); };
    client->onDisconnect = [&] { ++disconnects; };
    client->transport = transportClassic;
    client->settings = {deviceAddress(), nullptr, serialPortServiceUuid};
    ASSERT_EQ(client->connect(), resultOk);
    EXPECT_EQ(client->state(), clientConnecting);
    ASSERT_TRUE(runUntil([&] { return connectResult == resultOk && peer_ != nullptr; }));
    EXPECT_EQ(client->state(), clientConnected);
    EXPECT_EQ(client->connect(), resultBusy);

    const std::string command = "CLUB7IrLOFT000\r";
    ASSERT_EQ(client->write(std::span(reinterpret_cast<const std::uint8_t*>(command.data()), command.size())),
              resultOk);
    ASSERT_TRUE(runUntil([&] { return peer_->bytesAvailable() >= static_cast<qint64>(command.size()); }));
    EXPECT_EQ(peer_->readAll().toStdString(), command);

    peer_->write("ES16Prt001");
    ASSERT_TRUE(runUntil([&] { return received == "ES16Prt001"; }));

    // The device going away is a lost link.
    peer_->close();
    ASSERT_TRUE(runUntil([&] { return disconnects == 1; }));
    EXPECT_EQ(client->state(), clientIdle);
    std::vector<RadioPtr> radios;
    manager_->createDiscovery()->listRadios(radios);
    std::int32_t rssi = 0;
    EXPECT_EQ(manager_->signalStrength(deviceAddress(), radios.at(0), rssi), resultOk);
    EXPECT_LT(rssi, 0);
    EXPECT_EQ(manager_->signalStrength(deviceAddress(), nullptr, rssi), resultNoRadio);
}

TEST_F(EmulatorTest, RefusedConnectionIsAFailedConnect) {
    const std::string address = deviceAddress();
    device_.close();
    auto client = manager_->createClient();
    int connectResult = -1;
    client->onConnect = [&](int error) { connectResult = error; };
    client->settings.address = address;
    ASSERT_EQ(client->connect(), resultOk);
    ASSERT_TRUE(runUntil([&] { return connectResult != -1; }));
    EXPECT_EQ(connectResult, resultConnectFailed);
    EXPECT_EQ(client->state(), clientIdle);
    std::uint8_t byte = 'x';
    EXPECT_EQ(client->write(std::span(&byte, 1)), resultNotConnected);

    connectResult = -1;
    client->settings.address = "127.0.0.2:1";  // not one of ours: no traffic, just a failure
    ASSERT_EQ(client->connect(), resultOk);
    ASSERT_TRUE(runUntil([&] { return connectResult != -1; }));
    EXPECT_EQ(connectResult, resultBadAddress);
}

TEST_F(EmulatorTest, ADisconnectWhileConnectingGivesTheAttemptUp) {
    auto client = manager_->createClient();
    std::vector<int> results;
    client->onConnect = [&](int error) { results.push_back(error); };
    client->settings.address = deviceAddress();
    ASSERT_EQ(client->connect(), resultOk);
    EXPECT_EQ(client->disconnect(), resultOk);
    EXPECT_EQ(client->state(), clientIdle);
    // The attempt given up reports nothing, now or at its time limit; the next one is free to start.
    ASSERT_EQ(client->connect(), resultOk);
    ASSERT_TRUE(runUntil([&] { return !results.empty(); }));
    EXPECT_EQ(results, std::vector<int>{resultOk});
    EXPECT_EQ(client->state(), clientConnected);
}

}  // namespace
}  // namespace taltrix::bluetooth

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
