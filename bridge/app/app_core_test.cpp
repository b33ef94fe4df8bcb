#include "bridge/app/app_core.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "bridge/app/test_support.h"

namespace taltrix::app {
namespace {

using testing::RecordingHooks;
using testing::RecordingView;
using testing::ScriptedDialogs;
using testing::TempFolder;

class AppCoreTest : public ::testing::Test {
protected:
    AppCoreTest() {
        testing::ensureCoreApplication();
        core.setHooks(hooks);
    }

    void loadWith(const std::string& software) {
        home.write("Settings.pgs", "[Software]\r\n" + software);
        core.load();
    }

    TempFolder home;
    RecordingView view;
    ScriptedDialogs dialogs;
    RecordingHooks hooks;
    AppCore core{view, dialogs, home.path().string()};
};

TEST_F(AppCoreTest, LoadRunsTheStartUpStepsInOrder) {
    loadWith("");
    EXPECT_EQ(hooks.calls, (std::vector<std::string>{"createDeviceObjects", "resetLinkState", "prepareLinks",
                                                     "setTgcEndpoint", "discover"}));
    EXPECT_EQ(view.calls, (std::vector<std::string>{"selectDefaultService", "applySimulatorChoice", "letEventsRun",
                                                    "setWindowIcon", "addTrayIcon", "applyStartLayout",
                                                    "minimizeAndHide", "applyDebugLayout(false)"}));
    EXPECT_TRUE(core.Timer_check_Connection().isActive());
    EXPECT_FALSE(core.Timer_TX().isActive());
    EXPECT_FALSE(core.Timer_RX().isActive());
    EXPECT_FALSE(core.Timer_BT().isActive());
    EXPECT_EQ(view.windowIcon, WindowIcon::ico3);
    EXPECT_EQ(view.trayTip, "Connecting");
    EXPECT_TRUE(core.inTray());
    EXPECT_FALSE(core.status().traceEnabled());
    EXPECT_FALSE(core.rawDataBox().isVisible());
    EXPECT_EQ(view.label, "");
    EXPECT_TRUE(view.lines.empty());
    EXPECT_EQ(core.settings().path(), home.file("Settings.pgs"));
}

TEST_F(AppCoreTest, TimersHaveTheirNamesAndIntervals) {
    EXPECT_EQ(core.Timer_TX().objectName(), "Timer_TX");
    EXPECT_EQ(core.Timer_TX().interval(), 1400);
    EXPECT_EQ(core.Timer_RX().interval(), 800);
    EXPECT_EQ(core.Timer_BT().interval(), 350);
    EXPECT_EQ(core.Timer_check_Connection().objectName(), "Timer_check_Connection");
    EXPECT_EQ(core.Timer_check_Connection().interval(), 4500);
}

TEST_F(AppCoreTest, DebugModeShowsTheTraceAndTheRawData) {
    loadWith("Debug_mode=True\r\n");
    EXPECT_TRUE(view.debugLayout);
    EXPECT_TRUE(core.status().traceEnabled());
    EXPECT_TRUE(core.rawDataBox().isVisible());
    core.fn_show_status("Discovery started");
    core.fn_show_status("Device added to list: ES16");
    EXPECT_EQ(view.trace, "2) Device added to list: ES16\r\n1) Discovery started\r\n");
}

TEST_F(AppCoreTest, WithoutATrayTheWindowStaysOpenAndSaysWhy) {
    view.tray = view.trayHost = false;
    loadWith("Debug_mode=True\r\n");
    EXPECT_TRUE(view.visible);
    EXPECT_FALSE(core.inTray());
    EXPECT_EQ(view.trace, "1) No system tray available: the window stays open.\r\n");
    EXPECT_EQ(view.label, "No system tray available: the window stays open.");
}

TEST_F(AppCoreTest, WithoutATrayHidingMinimisesToTheTaskBarUntilATrayComes) {
    view.tray = view.trayHost = false;
    core.setStartHidden(true);
    loadWith("");
    // Started hidden with nowhere to hide: minimised, still on the task bar.
    EXPECT_EQ(view.calls.back(), "applyDebugLayout(false)");
    EXPECT_TRUE(view.visible && view.minimized);
    view.showNormal();
    core.hideToTray();
    EXPECT_TRUE(view.visible && view.minimized);
    EXPECT_FALSE(core.inTray());

    const auto trayIconsAdded = [&] { return std::count(view.calls.begin(), view.calls.end(), "addTrayIcon"); };
    core.connectionTick();
    EXPECT_EQ(trayIconsAdded(), 1);  // the one at start, which went nowhere
    // The tray's host starts: the icon goes up, and the minimised window into it.
    view.trayHost = true;
    core.connectionTick();
    EXPECT_EQ(trayIconsAdded(), 2);
    EXPECT_EQ(view.trayTip, "Connecting");
    EXPECT_FALSE(view.visible);
    EXPECT_TRUE(core.inTray());
    EXPECT_EQ(view.label, "System tray available: the window hides there from now on.");
    core.trayMouseMessage(trayLeftButtonUp);
    core.hideToTray();
    EXPECT_FALSE(view.visible);
    EXPECT_TRUE(core.inTray());

    // The host stops with the window in its tray: back to the task bar.
    view.trayHost = false;
    core.connectionTick();
    EXPECT_TRUE(view.visible && view.minimized);
    EXPECT_FALSE(core.inTray());
    EXPECT_EQ(view.label, "System tray gone: the window stays on the task bar.");
}

TEST_F(AppCoreTest, ATrayThatComesLaterLeavesAnOpenWindowOpen) {
    view.tray = view.trayHost = false;
    loadWith("");
    view.trayHost = true;
    core.connectionTick();
    EXPECT_EQ(view.calls.back(), "addTrayIcon");
    EXPECT_TRUE(view.visible);
    EXPECT_FALSE(core.inTray());
}

TEST_F(AppCoreTest, WithoutAWindowTheStartIsAnnounced) {
    view.window = false;
    view.tray = view.trayHost = false;
    loadWith("Sim_software=HalvexPlay\r\n");
    EXPECT_EQ(view.lines,
              (std::vector<std::string>{"HalvexPlay for Taltrix - Version 2.37 running without a window."}));
}

TEST_F(AppCoreTest, LeftClickShowsTheWindowUnlessItIsMaximized) {
    loadWith("");
    view.maximized = true;
    core.trayMouseMessage(trayLeftButtonUp);
    EXPECT_FALSE(view.visible);
    EXPECT_TRUE(core.inTray());

    view.maximized = false;
    core.trayMouseMessage(trayLeftButtonUp);
    EXPECT_TRUE(view.visible);
    EXPECT_FALSE(core.inTray());

    core.hideToTray();
    EXPECT_FALSE(view.visible);
    EXPECT_TRUE(core.inTray());
    core.trayMouseMessage(512);  // a plain mouse move does nothing
    EXPECT_FALSE(view.visible);
}

TEST_F(AppCoreTest, RightClickAsksTheQuitQuestionAndYesTerminates) {
    loadWith("Sim_software=HalvexPlay\r\n");
    dialogs.answers = {BoxAnswer::no};
    core.trayMouseMessage(trayRightButtonUp);
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].title, "HalvexPlay for Taltrix");
    EXPECT_EQ(dialogs.boxes[0].buttons, BoxButtons::yesNo);
    EXPECT_EQ(dialogs.boxes[0].text,
              "HalvexPlay for Taltrix - Version 2.37\r\n\r\n"
              "Stopping the Interface closes the links to the launch monitor and the simulator.\r\n\r\n"
              "Do you want to stop the Interface?");
    EXPECT_FALSE(view.ended);

    dialogs.answers = {BoxAnswer::yes};
    core.trayMouseMessage(trayRightButtonUp);
    EXPECT_TRUE(view.ended);
    EXPECT_TRUE(core.closing());
    EXPECT_FALSE(view.trayShown);
    EXPECT_EQ(hooks.calls.back(), "closeSimulatorLinks");
    EXPECT_FALSE(core.Timer_check_Connection().isActive());
}

TEST_F(AppCoreTest, TxBlinkLightsAtTheFirstTickAndGoesGreyAtTheSecond) {
    loadWith("");
    core.indicatorTx().switchOn();
    EXPECT_TRUE(core.Timer_TX().isActive());
    core.timerTxTick();
    EXPECT_EQ(core.lights().lineColour(Light::tx), (Rgb{0, 255, 0}));
    EXPECT_TRUE(core.lights().pictureOn(Light::tx));
    EXPECT_TRUE(core.Timer_TX().isActive());
    core.timerTxTick();
    EXPECT_EQ(core.lights().lineColour(Light::tx), (Rgb{125, 125, 125}));
    EXPECT_FALSE(core.lights().pictureOn(Light::tx));
    EXPECT_FALSE(core.Timer_TX().isActive());
}

TEST_F(AppCoreTest, RxBlinkUsesItsOwnGreen) {
    loadWith("");
    core.indicatorRx().switchOn();
    core.timerRxTick();
    EXPECT_EQ(core.lights().lineColour(Light::rx), (Rgb{0, 225, 0}));
    EXPECT_TRUE(core.lights().pictureOn(Light::rx));
    core.timerRxTick();
    EXPECT_EQ(core.lights().lineColour(Light::rx), offColour);
    EXPECT_FALSE(core.Timer_RX().isActive());
}

TEST_F(AppCoreTest, BtBlinkKeepsRunningUntilStopped) {
    loadWith("");
    core.Timer_BT().start();
    for (int tick = 0; tick < 5; ++tick) {
        core.timerBtTick();
        EXPECT_EQ(core.lights().lineColour(Light::bt), (tick % 2 == 0 ? btOnColour : offColour));
        EXPECT_EQ(core.lights().pictureOn(Light::bt), tick % 2 == 0);
    }
    EXPECT_TRUE(core.Timer_BT().isActive());
}

TEST_F(AppCoreTest, SwitchingOnARunningBlinkDoesNotRestartIt) {
    loadWith("");
    core.indicatorTx().switchOn();
    core.timerTxTick();  // lit
    core.indicatorTx().switchOn();
    core.timerTxTick();  // still one blink: grey again and stopped
    EXPECT_FALSE(core.lights().isOn(Light::tx));
    EXPECT_FALSE(core.Timer_TX().isActive());
}

TEST_F(AppCoreTest, QuitRequestIsActedOnAtTheNextTxTick) {
    loadWith("");
    hooks.quit = true;
    core.connectionTick();
    core.timerRxTick();
    EXPECT_FALSE(view.ended);
    core.indicatorTx().switchOn();
    core.timerTxTick();
    EXPECT_TRUE(view.ended);
    EXPECT_TRUE(core.closing());
    // The light was not touched: the program ends before the blink.
    EXPECT_FALSE(core.lights().isOn(Light::tx));
    EXPECT_FALSE(core.Timer_TX().isActive());
}

TEST_F(AppCoreTest, ConnectionTickConnectsTheDeviceUnlessDiscoveringThenTheChosenSimulator) {
    loadWith("");
    hooks.calls.clear();
    core.connectionTick();
    EXPECT_EQ(hooks.calls, (std::vector<std::string>{"tickDevice", "checkTgcLink"}));

    hooks.calls.clear();
    core.setHourglass(true);
    EXPECT_TRUE(view.busyPointer);
    core.optTgcClicked(false);  // now the relay game
    core.connectionTick();
    EXPECT_EQ(hooks.calls, (std::vector<std::string>{"checkRelayLink"}));

    hooks.calls.clear();
    core.optOpenConnectClicked(true);
    core.connectionTick();
    EXPECT_EQ(hooks.calls, (std::vector<std::string>{"checkOpenConnectLink"}));
}

TEST_F(AppCoreTest, ReplacingTheTrayIconDeletesAndAddsWithTheTipCut) {
    loadWith("");
    view.calls.clear();
    const std::string longTip(80, 't');
    core.replaceTrayIcon(WindowIcon::ico2, longTip);
    EXPECT_EQ(view.calls, (std::vector<std::string>{"deleteTrayIcon", "letEventsRun", "setWindowIcon", "addTrayIcon",
                                                    "letEventsRun"}));
    EXPECT_EQ(view.trayIcon, WindowIcon::ico2);
    EXPECT_EQ(view.windowIcon, WindowIcon::ico2);
    EXPECT_EQ(view.trayTip, std::string(63, 't'));
    EXPECT_EQ(core.trayTip(), view.trayTip);
}

TEST_F(AppCoreTest, CloseByTheSystemCleansUpUnlessTerminating) {
    loadWith("");
    hooks.calls.clear();
    core.queryUnload();
    core.unload();
    core.unload();
    EXPECT_EQ(hooks.calls, (std::vector<std::string>{"closeSimulatorLinks", "releaseDeviceObjects"}));
    EXPECT_FALSE(view.trayShown);

    RecordingView otherView;
    RecordingHooks otherHooks;
    AppCore other(otherView, dialogs, home.path().string());
    other.setHooks(otherHooks);
    other.load();
    other.terminate();
    otherHooks.calls.clear();
    other.queryUnload();
    EXPECT_TRUE(otherHooks.calls.empty());
}

}  // namespace
}  // namespace taltrix::app
