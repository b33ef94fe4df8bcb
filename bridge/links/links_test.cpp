#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bridge/links/bluetooth_link.h"
#include "bridge/links/device_list.h"
#include "bridge/links/tgc_link.h"
#include "platform/bluetooth/bluetooth.h"
#include "platform/text/code_page.h"
#include "tests/support/link_fakes.h"
#include "tests/support/shot_fakes.h"

namespace taltrix::links {
namespace {

using testing::pumpFor;
using testing::runUntil;

class RecordingList final : public DeviceListView {
public:
    std::vector<std::string> names;
    int selected = -1;
    int focused = 0;
    void clearRows() override { names.clear(); }
    void addRow(std::string_view, std::string_view name) override { names.emplace_back(name); }
    void selectRow(int row) override { selected = row; }
    void focusList() override { ++focused; }
};

class RecordingShell final : public LinkShell {
public:
    std::vector<std::string> shown;
    std::vector<std::string> labels;
    std::vector<std::pair<app::WindowIcon, std::string>> trayIcons;
    bool hourglass = false;
    bool tray = true;
    int blinkInterval = 0;  // 0: not blinking
    bool light = false;
    std::string remembered = "ES16";
    RecordingList list;

    void showStatus(std::string_view m) override { shown.emplace_back(m); }
    void showLabelOnly(std::string_view t) override { labels.emplace_back(t); }
    void replaceTrayIcon(app::WindowIcon icon, std::string_view tip) override { trayIcons.emplace_back(icon, tip); }
    void letEventsRun() override { QCoreApplication::processEvents(); }
    void setHourglass(bool on) override { hourglass = on; }
    bool inTray() const override { return tray; }
    void startBluetoothBlink(int ms) override { blinkInterval = ms; }
    void setBluetoothBlinkInterval(int ms) override {
        if (blinkInterval != 0) blinkInterval = ms;
    }
    void stopBluetoothBlink() override { blinkInterval = 0; }
    void setBluetoothLight(bool on) override { light = on; }
    std::string preselectedDevice() const override { return remembered; }
    DeviceListView& deviceList() override { return list; }

    bool saw(std::string_view text) const { return std::find(shown.begin(), shown.end(), text) != shown.end(); }
};

TEST(DeviceList, AcceptsOnlyErnestSportsNames) {
    for (const char* yes : {"ES16", "ES16-123", "MY-ES14", "POEPIE 2", "xPLASSIE"})
        EXPECT_TRUE(isErnestSportsDevice(yes)) << yes;
    for (const char* no : {"es16", "HEADSET", "ES1 6", ""}) EXPECT_FALSE(isErnestSportsDevice(no)) << no;
}

TEST(DeviceList, SelectsTheRememberedDeviceOrTheFirstRow) {
    RecordingList view;
    DeviceList list(view);
    list.add("a1", "ES14 B");
    list.add("a2", "ES16");
    list.selectRemembered("ES16");
    EXPECT_EQ(view.selected, 1);
    EXPECT_EQ(list.selected()->address, "a2");
    list.selectRemembered("PLASSIE");
    EXPECT_EQ(view.selected, 0);
    EXPECT_TRUE(beginsWithWholeWord("ES16-123", "ES16"));
    EXPECT_TRUE(beginsWithWholeWord("es16 lab", "ES16"));
    EXPECT_FALSE(beginsWithWholeWord("ES160", "ES16"));
    view.onUserSelected(0);
    EXPECT_EQ(list.selected()->name, "ES14 B");
    list.clear();
    EXPECT_FALSE(list.selected().has_value());
}

class BluetoothLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(device.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&device, &QTcpServer::newConnection, [this] { peer = device.nextPendingConnection(); });
    }

    void start(const std::string& devices) {
        std::string error;
        manager = bluetooth::createManager("emulator:" + devices, error);
        ASSERT_NE(manager, nullptr) << error;
        link = std::make_unique<BluetoothLink>(
            shell, *manager, [this](std::string_view c) { received += c; }, [this] { ++connectedCalls; });
        link->createObjects();
    }

    std::string endpoint() const { return "127.0.0.1:" + std::to_string(device.serverPort()); }

    void discover() {
        link->btDiscover_Click();
        ASSERT_TRUE(runUntil([&] { return !shell.hourglass; }));
    }

    QTcpServer device;
    QTcpSocket* peer = nullptr;
    RecordingShell shell;
    std::unique_ptr<bluetooth::Manager> manager;
    std::unique_ptr<BluetoothLink> link;
    std::string received;
    int connectedCalls = 0;
};

TEST_F(BluetoothLinkTest, DiscoveryListsOnlyOurDevicesAndSelectsTheRememberedOne) {
    start(
        "HEADSET@127.0.0.1:9,ES14 B@127.0.0.1:10,"
        "ES16@" +
        endpoint());
    discover();
    EXPECT_EQ(shell.list.names, (std::vector<std::string>{"ES14 B", "ES16"}));
    EXPECT_EQ(shell.list.selected, 1);
    EXPECT_TRUE(shell.saw("Discovery started"));
    EXPECT_TRUE(shell.saw("Device added to list: ES16"));
    EXPECT_EQ(shell.shown.back(), "Discovery ended");
    EXPECT_EQ(shell.blinkInterval, 400);
    EXPECT_EQ(shell.list.focused, 0);  // hidden in the tray: no focus
}

TEST_F(BluetoothLinkTest, NoOwnDeviceFoundSaysSo) {
    start("HEADSET@127.0.0.1:9");
    discover();
    EXPECT_TRUE(shell.list.names.empty());
    EXPECT_EQ(shell.labels.back(), "No Ernest Sports devices available");
    link->btConnect_Click();
    EXPECT_EQ(shell.shown.back(), "Select Ernest Sports device");
}

TEST_F(BluetoothLinkTest, ConnectsWritesCommandsAndComesBackAfterALoss) {
    start("ES16@" + endpoint());
    discover();
    link->btConnect_Click();
    ASSERT_TRUE(runUntil([&] { return link->btConnected() && peer != nullptr; }));
    EXPECT_TRUE(shell.saw("Connected to ES16"));
    EXPECT_TRUE(shell.light);
    EXPECT_EQ(connectedCalls, 1);
    EXPECT_EQ(shell.trayIcons.back(), std::make_pair(app::WindowIcon::ico2, std::string("Connected")));

    link->btConnect_Click();  // already connected: nothing changes
    link->btSend_Click("AT+X");
    EXPECT_EQ(link->writeCommand("CLUB7IrLOFT000").code, 0);
    ASSERT_TRUE(runUntil([&] { return peer->bytesAvailable() >= 20; }));
    EXPECT_EQ(peer->readAll().toStdString(), "AT+X\rCLUB7IrLOFT000\r");
    link->btSend_Click("");
    EXPECT_EQ(shell.labels.back(), "Enter AT command");

    peer->write("ES16Prt");
    ASSERT_TRUE(runUntil([&] { return received == "ES16Prt"; }));

    // The user's Disconnect does not stop the timer from reconnecting.
    link->btDisconnect_Click();
    ASSERT_TRUE(runUntil([&] { return !link->btConnected() && link->clientState() == bluetooth::clientIdle; }));
    EXPECT_FALSE(shell.light);
    peer = nullptr;
    link->btConnect_Click();
    ASSERT_TRUE(runUntil([&] { return link->btConnected() && peer != nullptr; }));
    EXPECT_EQ(connectedCalls, 2);

    // The device dropping the link.
    peer->close();
    ASSERT_TRUE(runUntil([&] { return !link->btConnected(); }));
    EXPECT_EQ(shell.trayIcons.back(), std::make_pair(app::WindowIcon::ico1, std::string("Disconnected")));
    EXPECT_EQ(shell.blinkInterval, 400);
}

TEST_F(BluetoothLinkTest, FailedConnectAndSignalStrength) {
    start("ES16@" + endpoint());
    discover();
    link->btGetRSSI_Click();
    EXPECT_EQ(shell.labels.back(), "Client not connected");
    device.close();
    link->btConnect_Click();
    ASSERT_TRUE(runUntil([&] { return shell.saw("Unable to connect to ES16"); }));
    EXPECT_EQ(shell.trayIcons.back(), std::make_pair(app::WindowIcon::ico1, std::string("Unable to connect to ES16")));
    EXPECT_FALSE(link->btConnected());
}

// A stack driven by hand: the test raises its events itself, and its
// devices and client fail in ways no real stack shows on demand.
class ScriptedRadio final : public bluetooth::Radio {
public:
    std::string address() const override { return "00:00:00:00:00:01"; }
    std::string name() const override { return "radio"; }
};

class ScriptedDevice final : public bluetooth::Device {
public:
    ScriptedDevice(std::string name, std::function<void()> onRead = {})
        : name_(std::move(name)), onRead_(std::move(onRead)) {}
    std::string address() const override { return "00:00:00:00:00:02"; }
    int readName(const bluetooth::Radio&, std::string& name) const override {
        if (onRead_) onRead_();
        name = name_;
        return bluetooth::resultOk;
    }

private:
    std::string name_;
    std::function<void()> onRead_;
};

class ScriptedDiscovery final : public bluetooth::Discovery {
public:
    bool radio = true;
    int starts = 0;
    int listRadios(std::vector<bluetooth::RadioPtr>& radios) override {
        if (radio) radios.push_back(std::make_shared<ScriptedRadio>());
        return bluetooth::resultOk;
    }
    int start(const bluetooth::RadioPtr&, std::uint8_t, int) override {
        ++starts;
        return bluetooth::resultOk;
    }
};

class ScriptedClient final : public bluetooth::Client {
public:
    std::string written;
    int connects = 0;
    int state() const override { return bluetooth::clientIdle; }
    int connect() override {
        ++connects;
        return bluetooth::resultOk;
    }
    int disconnect() override { return bluetooth::resultOk; }
    int write(std::span<const std::uint8_t> bytes) override {
        written.append(bytes.begin(), bytes.end());
        return bluetooth::resultOk;
    }
};

class ScriptedManager final : public bluetooth::Manager {
public:
    ScriptedDiscovery* discovery = nullptr;
    ScriptedClient* client = nullptr;
    int open() override { return bluetooth::resultOk; }
    int close() override { return bluetooth::resultOk; }
    std::unique_ptr<bluetooth::Discovery> createDiscovery() override {
        auto made = std::make_unique<ScriptedDiscovery>();
        discovery = made.get();
        return made;
    }
    std::unique_ptr<bluetooth::Client> createClient() override {
        auto made = std::make_unique<ScriptedClient>();
        client = made.get();
        return made;
    }
    int signalStrength(const std::string&, const bluetooth::RadioPtr&, std::int32_t&) override {
        return bluetooth::resultUnsupported;
    }
    bluetooth::Pairing paired = bluetooth::Pairing::unknown;
    bluetooth::Pairing pairing(const std::string&) override { return paired; }
};

// A shell whose tray icon can be made to fail, as a shell call inside a
// handler might.
class FailingTrayShell final : public LinkShell {
public:
    RecordingShell& inner;
    std::function<void()> onTrayIcon;
    explicit FailingTrayShell(RecordingShell& recording) : inner(recording) {}
    void showStatus(std::string_view m) override { inner.showStatus(m); }
    void showLabelOnly(std::string_view t) override { inner.showLabelOnly(t); }
    void replaceTrayIcon(app::WindowIcon icon, std::string_view tip) override {
        if (onTrayIcon) onTrayIcon();
        inner.replaceTrayIcon(icon, tip);
    }
    void letEventsRun() override {}
    void setHourglass(bool on) override { inner.setHourglass(on); }
    bool inTray() const override { return inner.inTray(); }
    void startBluetoothBlink(int ms) override { inner.startBluetoothBlink(ms); }
    void setBluetoothBlinkInterval(int ms) override { inner.setBluetoothBlinkInterval(ms); }
    void stopBluetoothBlink() override { inner.stopBluetoothBlink(); }
    void setBluetoothLight(bool on) override { inner.setBluetoothLight(on); }
    std::string preselectedDevice() const override { return inner.preselectedDevice(); }
    DeviceListView& deviceList() override { return inner.deviceList(); }
};

class ScriptedLink {
public:
    RecordingShell recording;
    FailingTrayShell shell{recording};
    ScriptedManager manager;
    std::function<void()> onConnected = [] {};
    BluetoothLink link{shell, manager, [](std::string_view) {}, [this] { onConnected(); }};
    ScriptedLink() { link.createObjects(); }
};

// An error raised anywhere inside the discovery-complete or connect event
// ends that handler with a status line naming it, and never leaves the
// handler for the event loop.
TEST(BluetoothLinkErrors, HandlerErrorsBecomeStatusLines) {
    const bluetooth::RadioPtr radio = std::make_shared<ScriptedRadio>();
    struct Case {
        const char* what;
        std::function<void(ScriptedLink&)> raise;
        std::string expected;
        std::string notReached;  // a status the handler must not get to
    };
    const std::vector<Case> cases = {
        {"a device's name cannot be read",
         [&](ScriptedLink& s) {
             const std::vector<bluetooth::DevicePtr> devices = {
                 std::make_shared<ScriptedDevice>("ES16"),
                 std::make_shared<ScriptedDevice>("ES14", [] { throw std::runtime_error("Device is not answering"); })};
             s.manager.discovery->onDiscoveryComplete(radio, &devices);
         },
         "Error on ES discovery: Device is not answering", "Discovery ended"},
        {"the list comes without the radio it was found on",
         [&](ScriptedLink& s) {
             const std::vector<bluetooth::DevicePtr> devices = {std::make_shared<ScriptedDevice>("ES16")};
             s.manager.discovery->onDiscoveryComplete(nullptr, &devices);
         },
         "Error on ES discovery: Object variable or With block variable not set", "Discovery ended"},
        {"opening the TGC link after connecting fails",
         [&](ScriptedLink& s) {
             s.onConnected = [] { throw std::runtime_error("TGC endpoint unusable"); };
             s.manager.client->onConnect(bluetooth::resultOk);
         },
         "Error on ES connect: TGC endpoint unusable", ""},
        {"the tray icon fails with an error that has no description",
         [&](ScriptedLink& s) {
             s.shell.onTrayIcon = [] { throw 91; };
             s.manager.client->onConnect(bluetooth::resultConnectFailed);
         },
         "Error on ES connect: Application-defined or object-defined error", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedLink s;
        EXPECT_NO_THROW(c.raise(s));
        ASSERT_FALSE(s.recording.shown.empty());
        EXPECT_EQ(s.recording.shown.back(), c.expected);
        if (!c.notReached.empty()) {
            EXPECT_FALSE(s.recording.saw(c.notReached));
        }
    }
    // Without errors the same events report no error.
    ScriptedLink s;
    const std::vector<bluetooth::DevicePtr> devices = {std::make_shared<ScriptedDevice>("ES16")};
    s.manager.discovery->onDiscoveryComplete(radio, &devices);
    s.manager.client->onConnect(bluetooth::resultOk);
    EXPECT_EQ(s.recording.shown,
              (std::vector<std::string>{"Device added to list: ES16", "Discovery ended", "Connected to ES16"}));
}

std::string hexOf(std::string_view bytes) {
    std::string hex;
    char digits[4];
    for (const unsigned char b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X ", b);
        hex += digits;
    }
    return hex;
}

// Writes `command` through a fresh link and ends the process: status 0 when
// the device got `bytes` and the ANSI code page was `ansiCodePage`.
[[noreturn]] void writeAndExit(const std::string& command, const std::string& bytes, unsigned ansiCodePage) {
    ScriptedLink s;
    s.link.writeCommand(command);
    const std::string& written = s.manager.client->written;
    const bool right = written == bytes && codepage::ansiCodePage() == ansiCodePage;
    if (!right) std::fprintf(stderr, "code page %u wrote %s\n", codepage::ansiCodePage(), hexOf(written).c_str());
    std::exit(right ? 0 : 1);
}

// The command line goes out as the ANSI code page's bytes for the text,
// whatever that code page is. The code page is read once per process, so
// each case runs in a fresh one.
TEST(BluetoothLinkCommands, WrittenInTheAnsiCodePage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Case {
        unsigned ansiCodePage;
        std::string command;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {1252, "CLUB7IrLOFT000", "CLUB7IrLOFT000\r"},
        {1252, "AT+N=\xC9t\xE9", "AT+N=\xC9t\xE9\r"},  // every byte is a character
        {65001, "AT+N=\xC3\x89t\xC3\xA9", "AT+N=\xC3\x89t\xC3\xA9\r"},
        {65001, "AT+N=\xE9", "AT+N=\xEF\xBF\xBD\r"},  // no UTF-8: the replacement character
        {932, "AT+N=\x82\xA0", "AT+N=\x82\xA0\r"},    // a double-byte character stays whole
        {932, "AT+N=\x82", "AT+N=?\r"},               // a lead byte without its trail byte
    };
    for (const Case& c : cases) {
        setenv(codepage::kAnsiCodePageVariable, std::to_string(c.ansiCodePage).c_str(), 1);
        EXPECT_EXIT(writeAndExit(c.command, c.bytes, c.ansiCodePage), ::testing::ExitedWithCode(0), "")
            << c.ansiCodePage << ": " << hexOf(c.command);
    }
    unsetenv(codepage::kAnsiCodePageVariable);
}

class TgcLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tgc.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&tgc, &QTcpServer::newConnection, [this] { peer = tgc.nextPendingConnection(); });
        link.setEndpoint("127.0.0.1", tgc.serverPort());
    }

    void connectAndReady() {
        link.fn_connect_to_TGC();
        ASSERT_TRUE(link.tgcSocketOpen());
        ASSERT_TRUE(runUntil([&] { return peer != nullptr && link.state() == sckConnected; }));
        peer->write(R"({"protocol":"HXSDK", "INFO":{"status":"203"}})"
                    "\r\n");
        ASSERT_TRUE(runUntil([&] { return state.tgcConnected; }));
    }

    std::string readLine() {
        runUntil([&] { return peer->canReadLine(); });
        return peer->readLine().toStdString();
    }

    QTcpServer tgc;
    QTcpSocket* peer = nullptr;
    RecordingShell shell;
    SimulatorState state;
    testing::RecordingStatus status;
    testing::RecordingWriter device;
    ClubCommandSender clubCommand{state, status, &device};
    TcpReceiver receiver{state, status, clubCommand, [this] { return link.tgcSocketOpen(); }};
    TgcLink link{shell, state, receiver};
};

TEST_F(TgcLinkTest, SendsPrintableLinesOnlyWhileTgcIsReady) {
    connectAndReady();
    EXPECT_EQ(status.shown.back(), "TGC connected");
    link.fnSend("  {\"a\":\"1\"}\t\xC8 ");
    EXPECT_EQ(readLine(), "{\"a\":\"1\"}\r\n");
    EXPECT_EQ(shell.shown.back(), tgcDataSentText);
    link.fnSend("   ");
    EXPECT_EQ(readLine(), "\r\n");

    peer->write(R"({"protocol":"HXSDK", "INFO":{"status":"204"}})"
                "\r\n");
    ASSERT_TRUE(runUntil([&] { return !state.tgcConnected; }));
    link.fnSend("shot");
    pumpFor(200);  // time for a stray line to arrive
    EXPECT_FALSE(peer->canReadLine());
}

TEST_F(TgcLinkTest, ClubChangeFromTgcReachesTheDevice) {
    connectAndReady();
    peer->write(R"({"protocol":"HXSDK", "INFO":{"status":"150", "playerClub":"I7"}})"
                "\r\n");
    ASSERT_TRUE(runUntil([&] { return !device.written.empty(); }));
    EXPECT_EQ(device.written.front(), "CLUB7IrLOFT000");
}

TEST_F(TgcLinkTest, TgcGoingAwayLowersReadinessAtOnce) {
    connectAndReady();
    peer->close();
    ASSERT_TRUE(runUntil([&] { return !state.tgcConnected && link.state() == sckClosed; }));
    tgc.close();
    link.fn_connect_to_TGC();
    // Refused: the error event lowers everything, the tip told "Connected"
    // only while the attempt was under way.
    ASSERT_TRUE(runUntil([&] { return link.state() == sckClosed; }));
    EXPECT_FALSE(state.tgcConnected);
}

TEST(TgcEndpoint, ReadsHostAndPort) {
    std::string host;
    std::int32_t port = 0;
    EXPECT_TRUE(parseTgcEndpoint("127.0.0.1:3344", host, port));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 3344);
    EXPECT_TRUE(parseTgcEndpoint("[::1]:9", host, port));
    EXPECT_EQ(host, "::1");
    for (const char* bad : {"", "host", ":1", "h:0", "h:70000", "h:x"})
        EXPECT_FALSE(parseTgcEndpoint(bad, host, port)) << bad;
}

// The tick connects while there is something to connect to, and otherwise
// looks again: no radio at the last look, or nothing in the list.
TEST(BluetoothLinkTick, LooksAgainWhileThereWasNoRadioOrNoDevice) {
    ScriptedLink s;
    ScriptedDiscovery& discovery = *s.manager.discovery;
    auto found = [&](std::vector<bluetooth::DevicePtr> devices) {
        discovery.onDiscoveryStarted(nullptr);
        discovery.onDiscoveryComplete(std::make_shared<ScriptedRadio>(), &devices);
    };
    discovery.radio = false;
    s.link.btDiscover_Click();
    s.link.connectionTick();
    EXPECT_EQ(s.recording.labels, (std::vector<std::string>(2, "No Bluetooth found, please turn Bluetooth on.")));
    EXPECT_FALSE(s.recording.hourglass);

    discovery.radio = true;
    s.link.connectionTick();
    EXPECT_EQ(discovery.starts, 1);
    found({});
    s.link.connectionTick();
    EXPECT_EQ(discovery.starts, 2);
    found({std::make_shared<ScriptedDevice>("ES16")});
    s.link.connectionTick();
    EXPECT_EQ(discovery.starts, 2);
    EXPECT_EQ(s.manager.client->connects, 1);

    // The radio went and came back: the list is looked for afresh.
    discovery.radio = false;
    s.link.connectionTick();
    discovery.radio = true;
    s.link.connectionTick();
    EXPECT_EQ(discovery.starts, 3);
    EXPECT_EQ(s.manager.client->connects, 1);
}

TEST(BluetoothLinkTick, AFailedConnectToAnUnpairedDeviceSaysWhatToDo) {
    for (const auto pairing : {bluetooth::Pairing::unpaired, bluetooth::Pairing::paired, bluetooth::Pairing::unknown}) {
        ScriptedLink s;
        s.manager.paired = pairing;
        std::vector<bluetooth::DevicePtr> devices{std::make_shared<ScriptedDevice>("ES16 Range")};
        s.manager.discovery->onDiscoveryComplete(std::make_shared<ScriptedRadio>(), &devices);
        s.link.btConnect_Click();
        s.manager.client->onConnect(bluetooth::resultConnectFailed);
        const std::vector<std::string>& shown = s.recording.shown;
        ASSERT_GE(shown.size(), 2u);
        if (pairing == bluetooth::Pairing::unpaired) {
            EXPECT_EQ(shown.back(),
                      "ES16 Range is not paired with this computer. Pair it in the Bluetooth settings (or with "
                      "bluetoothctl), then Taltrix connects to it by itself.");
            EXPECT_EQ(shown[shown.size() - 2], "Unable to connect to ES16");
        } else {
            EXPECT_EQ(shown.back(), "Unable to connect to ES16");
        }
    }
}

}  // namespace
}  // namespace taltrix::links

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
