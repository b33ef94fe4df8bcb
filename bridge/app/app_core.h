// The application shell without its widgets: flags, timers, settings, status
// display, status lights, the start-up order and the terminate and close
// paths. The window and the headless front end are two views of it, so that
// all of this runs, and is tested, without a display.
#pragma once

#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "bridge/app/app_view.h"
#include "bridge/app/bridge_hooks.h"
#include "bridge/app/dialogs.h"
#include "bridge/app/feature_hooks.h"
#include "bridge/app/raw_data.h"
#include "bridge/app/settings.h"
#include "bridge/app/startup_log.h"
#include "bridge/app/status_board.h"
#include "bridge/app/status_lights.h"
#include "bridge/shot/ports.h"

namespace taltrix::app {

// Mouse messages of the notification icon.
inline constexpr int trayLeftButtonUp = 514;
inline constexpr int trayRightButtonUp = 517;

class AppCore final : private SettingsHost {
public:
    static constexpr int timerTxInterval = 1400;
    static constexpr int timerRxInterval = 800;
    static constexpr int timerBtInterval = 350;
    static constexpr int connectionInterval = 4500;
    // The tip field holds 64 characters with the terminating NUL.
    static constexpr std::size_t tipLimit = 63;

    AppCore(AppView& view, Dialogs& dialogs, std::string programFolder);
    AppCore(const AppCore&) = delete;
    AppCore& operator=(const AppCore&) = delete;

    // Until called, the window runs without links.
    void setHooks(BridgeHooks& hooks) { hooks_ = &hooks; }

    // The History window and the diagnostics bundle, kept as long as the
    // core; null until given.
    void adoptFeatures(std::unique_ptr<FeatureHooks> features) { features_ = std::move(features); }
    FeatureHooks* features() const { return features_.get(); }
    // Hears every status line as it is shown (the history keeps them).
    void setStatusListener(std::function<void(std::string_view)> listener) { status_.setListener(std::move(listener)); }
    // Hears of every report the links make, shown or not (the shot feed
    // looks at the links then).
    void setReportListener(std::function<void()> listener) { status_.setReportListener(std::move(listener)); }

    // --hidden: where there is no tray at start, the window starts minimised
    // instead of shown. Before load().
    void setStartHidden(bool hidden) { startHidden_ = hidden; }

    // The window's load step, start-up steps 1 to 10.
    void load();

    void fn_show_status(std::string_view message) { status_.showStatus(message); }
    void showLabelOnly(std::string_view text) { status_.showLabelOnly(text); }
    void replaceTrayIcon(WindowIcon icon, std::string_view tip);

    // Notification icon: 514 left button released, 517 right button released.
    void trayMouseMessage(int message);
    // btn_system_tray and picTray.
    void hideToTray();
    // optHalvexPlay, optTGC and optOpenConnect clicks.
    void optHalvexPlayClicked(bool selected) { settings_.optHalvexPlay_Click(selected); }
    void optTgcClicked(bool selected) { settings_.optTGC_Click(selected); }
    void optOpenConnectClicked(bool selected) { settings_.optOpenConnect_Click(selected); }

    void timerTxTick();
    void timerRxTick();
    void timerBtTick();
    void connectionTick();

    // Ends the program: links closed, tray icon removed, logger stopped.
    void terminate();
    // The window closed by the system (query-unload), then unloaded.
    void queryUnload();
    void unload();

    // The hourglass pointer: set while a discovery runs, and the connection
    // timer leaves the device alone meanwhile.
    void setHourglass(bool on);
    bool hourglass() const { return hourglass_; }

    // What the shot pipeline is given.
    RawDataBox& rawDataBox() { return raw_; }
    Indicator& indicatorRx() { return rxIndicator_; }
    Indicator& indicatorTx() { return txIndicator_; }
    StatusDisplay& statusDisplay() { return status_; }
    // The message boxes, for the links' questions (the relay's certificate).
    Dialogs& dialogBoxes() { return dialogs_; }

    Settings& settings() { return settings_; }
    const StatusBoard& status() const { return status_; }
    StatusLights& lights() { return lights_; }
    const RawData& rawData() const { return raw_; }
    QTimer& Timer_TX() { return timerTx_; }
    QTimer& Timer_RX() { return timerRx_; }
    QTimer& Timer_BT() { return timerBt_; }
    QTimer& Timer_check_Connection() { return timerConnection_; }
    BridgeHooks& hooks() { return *hooks_; }
    clsLogger* logger() const { return startupLog_.logger(); }

    const std::string& programFolder() const { return programFolder_; }
    bool inTray() const { return inTray_; }
    bool closing() const { return closing_; }
    bool ended() const { return ended_; }
    WindowIcon trayIcon() const { return trayIcon_; }
    const std::string& trayTip() const { return trayTip_; }
    // The notice line of the quit question.
    static std::string quitQuestion(std::string_view simSoftware);

private:
    // A blink timer as the shot pipeline switches it on: started when it is
    // not running, left alone when it is.
    class TimerIndicator final : public Indicator {
    public:
        explicit TimerIndicator(QTimer& timer) : timer_(timer) {}
        void switchOn() override;

    private:
        QTimer& timer_;
    };

    void applySimulatorChoice(const SimulatorChoice& choice) override { view_.applySimulatorChoice(choice); }
    void letEventsRun() override { view_.letEventsRun(); }
    void resetPointer() override { setHourglass(false); }
    Dialogs& dialogs() override { return dialogs_; }

    void initTimer(QTimer& timer, const char* name, int interval, void (AppCore::*tick)());
    void addTrayIcon(WindowIcon icon, std::string_view tip);
    // On each connection tick: a tray that came up after the start is used,
    // and a window hidden in a tray that went away comes back to the task bar.
    void followTray();
    void stopTimers();

    AppView& view_;
    Dialogs& dialogs_;
    std::string programFolder_;
    NoLinks noLinks_;
    BridgeHooks* hooks_ = &noLinks_;

    Settings settings_;
    StatusBoard status_;
    StatusLights lights_;
    RawData raw_;
    StartupLog startupLog_;

    QTimer timerTx_;
    QTimer timerRx_;
    QTimer timerBt_;
    QTimer timerConnection_;
    TimerIndicator rxIndicator_{timerRx_};
    TimerIndicator txIndicator_{timerTx_};

    bool inTray_ = false;
    bool startHidden_ = false;
    bool closing_ = false;
    bool ended_ = false;
    bool unloaded_ = false;
    bool hourglass_ = false;
    WindowIcon trayIcon_ = WindowIcon::ico3;
    std::string trayTip_;
    // Last: goes first, while everything it may use is still there.
    std::unique_ptr<FeatureHooks> features_;
};

}  // namespace taltrix::app
