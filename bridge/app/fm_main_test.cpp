#include "bridge/app/fm_main.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTreeWidget>

#include "bridge/app/test_support.h"

// Fontconfig keeps a cache Qt never frees; it is not ours to report when
// this runs under LeakSanitizer.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace taltrix::app {
namespace {

using testing::RecordingHooks;
using testing::ScriptedDialogs;
using testing::TempFolder;

void ensureGuiApplication() {
    if (QApplication::instance() == nullptr) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "fm_main_test";
        static char* argv[] = {name, nullptr};
        // Never destroyed: tearing Qt down among the other statics at exit
        // crashes after widgets have been clicked.
        static auto* app = new QApplication(argc, argv);
        (void)app;
        QApplication::setQuitOnLastWindowClosed(false);
    }
}

class FmMainTest : public ::testing::Test {
protected:
    FmMainTest() { ensureGuiApplication(); }

    fmMain& load(const std::string& software = "") {
        home.write("Settings.pgs", "[Software]\r\n" + software);
        window = std::make_unique<fmMain>(dialogs, home.path().string());
        window->core().setHooks(hooks);
        window->core().load();
        return *window;
    }
    template <typename W = QWidget>
    W* control(const char* name) const {
        return window->findChild<W*>(QString::fromLatin1(name));
    }
    QColor lineColour(const char* name) const { return control<QFrame>(name)->palette().color(QPalette::Window); }

    TempFolder home;
    ScriptedDialogs dialogs;
    RecordingHooks hooks;
    std::unique_ptr<fmMain> window;
};

TEST_F(FmMainTest, EveryNamedControlIsThereWithItsCaption) {
    load();
    const std::pair<const char*, const char*> captioned[] = {
        {"btDiscover", "Discover"},
        {"btConnect", "Connect"},
        {"btDisconnect", "Disconnect"},
        {"btGetRSSI", "RSSI"},
        {"btSend", "Send"},
        {"optHalvexPlay", "Halvex Play"},
        {"optTGC", "TGC"},
        {"optOpenConnect", "Open Connect"},
    };
    for (const auto& [name, caption] : captioned) {
        auto* button = control<QAbstractButton>(name);
        ASSERT_NE(button, nullptr) << name;
        EXPECT_EQ(button->text().toStdString(), caption) << name;
    }
    const std::pair<const char*, const char*> labels[] = {
        {"lblName", "The Golf Club Simulator"},
        {"lblStatus", "Status:"},
        {"lblData", "Data:"},
        {"lblBluetooth", "Ernest Sports devices:"},
    };
    for (const auto& [name, caption] : labels) {
        auto* label = control<QLabel>(name);
        ASSERT_NE(label, nullptr) << name;
        EXPECT_EQ(label->text().toStdString(), caption) << name;
    }
    for (const char* name :
         {"btn_system_tray", "edCommand",     "meAns",     "txt_status", "lvDevices", "cbServices",
          "frameConnectTo",  "lbl_message",   "ln_TX",     "ln_RX",      "ln_BT",     "pic_ES_status",
          "pic_HX_status",   "pic_BT_status", "picESon",   "picESoff",   "picHXon",   "picHXoff",
          "picBTon",         "picBToff",      "picTray",   "ico1",       "ico2",      "ico3",
          "btTestToTGC",     "btTestToESI7",  "btTestToES"}) {
        EXPECT_NE(control(name), nullptr) << name;
    }
    EXPECT_EQ(control<QAbstractButton>("optTGC")->parentWidget(), control("frameConnectTo"));
    auto* services = control<QComboBox>("cbServices");
    EXPECT_EQ(services->itemText(0), "DialUp Networking");
    EXPECT_EQ(services->currentText(), "Serial Port Profile");
    auto* devices = control<QTreeWidget>("lvDevices");
    EXPECT_EQ(devices->headerItem()->text(0), "Address");
    EXPECT_EQ(devices->headerItem()->text(1), "Bluetooth Device");
}

TEST_F(FmMainTest, NormalLayoutWithoutATrayShowsTheShortWindow) {
    fmMain& w = load();
    // The offscreen platform has no system tray: the window must stay reachable.
    EXPECT_FALSE(w.trayAvailable());
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.size(), QSize(440, 220));
    EXPECT_EQ(w.windowTitle(), "TGC for Taltrix - Version 2.37");
    EXPECT_EQ(control<QLabel>("lblName")->width(), 440);
    EXPECT_EQ(control<QLabel>("lbl_message")->text(), "No system tray available: the window stays open.");
    for (const char* hidden :
         {"meAns", "txt_status", "lblStatus", "lblData", "btTestToTGC", "btTestToESI7", "btTestToES", "pic_ES_status",
          "pic_HX_status", "pic_BT_status", "picTray", "picESon", "ico1"}) {
        EXPECT_FALSE(control(hidden)->isVisible()) << hidden;
    }
    for (const char* shown : {"btn_system_tray", "lvDevices", "btDiscover", "ln_TX", "lbl_message", "lblName"}) {
        EXPECT_TRUE(control(shown)->isVisible()) << shown;
    }
    EXPECT_TRUE(control<QAbstractButton>("optTGC")->isChecked());
}

TEST_F(FmMainTest, DebugLayoutShowsRawDataAndTrace) {
    fmMain& w = load("Debug_mode=True\r\nSim_software=HalvexPlay\r\n");
    EXPECT_EQ(w.size(), QSize(440, 633));
    for (const char* shown : {"meAns", "txt_status", "lblStatus", "lblData"}) {
        EXPECT_TRUE(control(shown)->isVisible()) << shown;
    }
    EXPECT_EQ(control<QPlainTextEdit>("txt_status")->toPlainText(),
              "1) No system tray available: the window stays open.\n");
    w.core().fn_show_status("Discovery started");
    EXPECT_EQ(control<QPlainTextEdit>("txt_status")->toPlainText(),
              "2) Discovery started\n1) No system tray available: the window stays open.\n");
    w.core().rawDataBox().append("\r\nES16Prt001\r\n\r\n");
    EXPECT_EQ(control<QPlainTextEdit>("meAns")->toPlainText(), "\nES16Prt001\n\n");
    EXPECT_TRUE(control<QAbstractButton>("optHalvexPlay")->isChecked());
    EXPECT_TRUE(control<QLabel>("lblName")->font().italic());
    EXPECT_EQ(control<QLabel>("lblName")->text(), "HALVEX PLAY");
    EXPECT_EQ(w.windowTitle(), "HalvexPlay for Taltrix - Version 2.37");
}

TEST_F(FmMainTest, LightsShowTheirLineColourAndSourcePicture) {
    fmMain& w = load();
    EXPECT_EQ(lineColour("ln_TX"), QColor(125, 125, 125));
    w.core().timerTxTick();
    w.core().timerRxTick();
    w.core().timerBtTick();
    EXPECT_EQ(lineColour("ln_TX"), QColor(0, 255, 0));
    EXPECT_EQ(lineColour("ln_RX"), QColor(0, 225, 0));
    EXPECT_EQ(lineColour("ln_BT"), QColor(0, 125, 255));
    EXPECT_EQ(control<QLabel>("pic_ES_status")->pixmap().toImage(), control<QLabel>("picESon")->pixmap().toImage());
    EXPECT_EQ(control<QLabel>("pic_BT_status")->pixmap().toImage(), control<QLabel>("picBTon")->pixmap().toImage());
    w.core().timerTxTick();
    EXPECT_EQ(lineColour("ln_TX"), QColor(125, 125, 125));
    EXPECT_EQ(control<QLabel>("pic_ES_status")->pixmap().toImage(), control<QLabel>("picESoff")->pixmap().toImage());
}

TEST_F(FmMainTest, WithoutATrayTheTrayButtonAndPictureMinimiseTheWindowToTheTaskBar) {
    fmMain& w = load();
    // The offscreen platform has no tray: hidden, the window would be lost.
    QTest::mouseClick(control("btn_system_tray"), Qt::LeftButton);
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.isMinimized());
    EXPECT_FALSE(w.core().inTray());
    w.core().trayMouseMessage(trayLeftButtonUp);
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.isMinimized());

    control("picTray")->show();
    QTest::mouseClick(control("picTray"), Qt::LeftButton);
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.isMinimized());
    EXPECT_FALSE(w.core().inTray());
}

TEST_F(FmMainTest, LeftClickOnAMaximizedWindowDoesNothing) {
    fmMain& w = load();
    w.setWindowState(Qt::WindowMaximized);
    ASSERT_TRUE(w.isMaximized());
    w.core().trayMouseMessage(trayLeftButtonUp);
    EXPECT_TRUE(w.isMaximized());
}

TEST_F(FmMainTest, ChoosingTheRelayGameByClickAsksForTheKey) {
    fmMain& w = load();
    dialogs.entry = "KEY-1";
    QTest::mouseClick(control("optHalvexPlay"), Qt::LeftButton);
    ASSERT_EQ(dialogs.inputs.size(), 1u);
    EXPECT_TRUE(w.core().settings().relayMode());
    EXPECT_EQ(w.core().settings().values().HalvexPlay_key, "KEY-1");
    EXPECT_EQ(w.windowTitle(), "HalvexPlay for Taltrix - Version 2.37");
    QTest::mouseClick(control("optTGC"), Qt::LeftButton);
    EXPECT_FALSE(w.core().settings().relayMode());
    EXPECT_EQ(dialogs.inputs.size(), 1u);
}

TEST_F(FmMainTest, ChoosingOpenConnectByClickShowsItAndAsksNothing) {
    fmMain& w = load();
    QTest::mouseClick(control("optOpenConnect"), Qt::LeftButton);
    EXPECT_TRUE(w.core().settings().openConnectMode());
    EXPECT_EQ(w.windowTitle(), "OpenConnect for Taltrix - Version 2.37");
    EXPECT_EQ(control<QLabel>("lblName")->text(), "Open Connect Simulator");
    EXPECT_FALSE(control<QAbstractButton>("optTGC")->isChecked());
    EXPECT_TRUE(dialogs.inputs.empty());
    QTest::mouseClick(control("optTGC"), Qt::LeftButton);
    EXPECT_FALSE(w.core().settings().openConnectMode());
    EXPECT_FALSE(control<QAbstractButton>("optOpenConnect")->isChecked());
}

TEST_F(FmMainTest, ButtonsReachTheLinks) {
    load();
    hooks.calls.clear();
    QTest::mouseClick(control("btDiscover"), Qt::LeftButton);
    QTest::mouseClick(control("btConnect"), Qt::LeftButton);
    QTest::mouseClick(control("btDisconnect"), Qt::LeftButton);
    QTest::mouseClick(control("btGetRSSI"), Qt::LeftButton);
    control<QLineEdit>("edCommand")->setText("AT+X");
    QTest::mouseClick(control("btSend"), Qt::LeftButton);
    EXPECT_EQ(hooks.calls, (std::vector<std::string>{"discover", "connectDevice", "disconnectDevice",
                                                     "querySignalStrength", "sendCommand AT+X"}));
}

TEST_F(FmMainTest, ClosingTheWindowClosesTheLinksAndReleasesTheDevice) {
    fmMain& w = load();
    hooks.calls.clear();
    w.close();
    EXPECT_EQ(hooks.calls, (std::vector<std::string>{"closeSimulatorLinks", "releaseDeviceObjects"}));
}

TEST_F(FmMainTest, MessagesAreShownAsPlainText) {
    fmMain& w = load();
    w.core().fn_show_status("<b>not bold</b> caf\xE9");
    EXPECT_EQ(control<QLabel>("lbl_message")->text(), QString::fromUtf8("<b>not bold</b> caf\xC3\xA9"));
    EXPECT_EQ(control<QLabel>("lbl_message")->textFormat(), Qt::PlainText);
}

}  // namespace
}  // namespace taltrix::app
