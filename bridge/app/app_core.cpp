#include "bridge/app/app_core.h"

#include "bridge/app/app_texts.h"

namespace taltrix::app {

namespace {

constexpr std::string_view startTip = "Connecting";
constexpr std::string_view quitNotice =
    "Stopping the Interface closes the links to the launch monitor and the simulator.";
constexpr std::string_view quitAsk = "Do you want to stop the Interface?";
// The desktop has no notification area, so hiding the window would leave the
// user no way back to it.
constexpr std::string_view noTrayMessage = "No system tray available: the window stays open.";
constexpr std::string_view trayAppearedMessage = "System tray available: the window hides there from now on.";
constexpr std::string_view trayVanishedMessage = "System tray gone: the window stays on the task bar.";
// Without a window nothing else says that the bridge is up.
constexpr std::string_view headlessTail = " running without a window.";

}  // namespace

void AppCore::TimerIndicator::switchOn() {
    if (!timer_.isActive()) {
        timer_.start();
    }
}

AppCore::AppCore(AppView& view, Dialogs& dialogs, std::string programFolder)
    : view_(view),
      dialogs_(dialogs),
      programFolder_(std::move(programFolder)),
      settings_(*this),
      status_(view),
      lights_(view),
      raw_(view) {
    initTimer(timerTx_, "Timer_TX", timerTxInterval, &AppCore::timerTxTick);
    initTimer(timerRx_, "Timer_RX", timerRxInterval, &AppCore::timerRxTick);
    initTimer(timerBt_, "Timer_BT", timerBtInterval, &AppCore::timerBtTick);
    initTimer(timerConnection_, "Timer_check_Connection", connectionInterval, &AppCore::connectionTick);
}

void AppCore::initTimer(QTimer& timer, const char* name, int interval, void (AppCore::*tick)()) {
    timer.setObjectName(QString::fromLatin1(name));
    timer.setInterval(interval);
    QObject::connect(&timer, &QTimer::timeout, [this, tick] { (this->*tick)(); });
}

std::string AppCore::quitQuestion(std::string_view simSoftware) {
    return std::string(simSoftware) + " for Taltrix " + std::string(versionText) + "\r\n\r\n" +
           std::string(quitNotice) + "\r\n\r\n" + std::string(quitAsk);
}

void AppCore::load() {
    hooks_->createDeviceObjects();

    hooks_->resetLinkState();
    timerConnection_.start();
    timerBt_.stop();
    timerRx_.stop();
    timerTx_.stop();
    status_.clear();

    hooks_->prepareLinks();
    view_.selectDefaultService();

    settings_.setProgramFolder(programFolder_);
    settings_.fn_load_constants();

    hooks_->setTgcEndpoint();

    hooks_->discover();

    view_.setWindowIcon(WindowIcon::ico3);
    addTrayIcon(WindowIcon::ico3, startTip);

    view_.applyStartLayout();
    bool showNoTray = false;
    if (view_.trayAvailable()) {
        view_.minimizeAndHide();
        inTray_ = true;
    } else if (view_.hasWindow()) {
        if (startHidden_) {
            view_.minimizeToTaskBar();
        } else {
            view_.showNormal();
        }
        inTray_ = false;
        showNoTray = true;
    }

    const bool debug = settings_.debugMode();
    status_.setTraceEnabled(debug);
    raw_.setVisible(debug);
    view_.applyDebugLayout(debug);
    if (showNoTray) {
        fn_show_status(noTrayMessage);
    }
    if (!view_.hasWindow()) {
        fn_show_status(settings_.values().Sim_software + " for Taltrix " + std::string(versionText) +
                       std::string(headlessTail));
    }

    if constexpr (StartupLog::switchedOn) {
        startupLog_.start(programFolder_, settings_.values().Sim_software);
    }
}

void AppCore::addTrayIcon(WindowIcon icon, std::string_view tip) {
    trayIcon_ = icon;
    trayTip_ = std::string(tip.substr(0, tipLimit));
    view_.addTrayIcon(trayIcon_, trayTip_);
}

void AppCore::replaceTrayIcon(WindowIcon icon, std::string_view tip) {
    view_.deleteTrayIcon();
    view_.letEventsRun();
    view_.setWindowIcon(icon);
    addTrayIcon(icon, tip);
    view_.letEventsRun();
}

void AppCore::trayMouseMessage(int message) {
    if (message == trayLeftButtonUp) {
        if (!view_.isMaximized()) {
            view_.showNormal();
            inTray_ = false;
        }
    } else if (message == trayRightButtonUp) {
        const std::string& sim = settings_.values().Sim_software;
        const BoxAnswer answer =
            dialogs_.messageBox(quitQuestion(sim), sim + " for Taltrix", BoxButtons::yesNo, BoxIcon::question);
        if (answer == BoxAnswer::yes) {
            terminate();
        }
    }
}

void AppCore::hideToTray() {
    if (view_.trayAvailable()) {
        view_.minimizeAndHide();
        inTray_ = true;
    } else {
        // Hidden without a tray, the window could never be brought back.
        view_.minimizeToTaskBar();
    }
}

void AppCore::followTray() {
    if (!view_.hasWindow()) return;
    switch (view_.trayChange()) {
        case TrayChange::none:
            return;
        case TrayChange::appeared:
            view_.addTrayIcon(trayIcon_, trayTip_);
            // A window the user (or --hidden) put away goes into the tray as it would have at start.
            if (view_.isMinimized()) {
                view_.minimizeAndHide();
                inTray_ = true;
            }
            fn_show_status(trayAppearedMessage);
            return;
        case TrayChange::vanished:
            // Hidden in a tray that is gone, the window could not be found again.
            if (inTray_) {
                view_.minimizeToTaskBar();
                inTray_ = false;
            }
            fn_show_status(trayVanishedMessage);
            return;
    }
}

void AppCore::timerTxTick() {
    if (hooks_->quitRequested()) {
        terminate();
        return;
    }
    if (lights_.isOn(Light::tx)) {
        lights_.switchOff(Light::tx);
        timerTx_.stop();
    } else {
        lights_.switchOn(Light::tx);
    }
}

void AppCore::timerRxTick() {
    if (lights_.isOn(Light::rx)) {
        lights_.switchOff(Light::rx);
        timerRx_.stop();
    } else {
        lights_.switchOn(Light::rx);
    }
}

void AppCore::timerBtTick() {
    if (lights_.isOn(Light::bt)) {
        lights_.switchOff(Light::bt);
    } else {
        lights_.switchOn(Light::bt);
    }
}

void AppCore::connectionTick() {
    followTray();
    if (!hourglass_) {
        hooks_->tickDevice();
    }
    if (settings_.relayMode()) {
        hooks_->checkRelayLink();
    } else if (settings_.openConnectMode()) {
        hooks_->checkOpenConnectLink();
    } else {
        hooks_->checkTgcLink();
    }
}

void AppCore::setHourglass(bool on) {
    hourglass_ = on;
    view_.setBusyPointer(on);
}

void AppCore::stopTimers() {
    timerTx_.stop();
    timerRx_.stop();
    timerBt_.stop();
    timerConnection_.stop();
}

void AppCore::terminate() {
    if (ended_) {
        return;
    }
    closing_ = true;
    hooks_->closeSimulatorLinks();
    view_.deleteTrayIcon();
    if constexpr (StartupLog::switchedOn) {
        startupLog_.stop();
    }
    // The program ends at once: no tick may run while the loop winds down.
    stopTimers();
    ended_ = true;
    view_.endProgram();
}

void AppCore::queryUnload() {
    if (!closing_) {
        hooks_->closeSimulatorLinks();
        view_.deleteTrayIcon();
    }
}

void AppCore::unload() {
    if (unloaded_) {
        return;
    }
    unloaded_ = true;
    stopTimers();
    hooks_->releaseDeviceObjects();
    view_.deleteTrayIcon();
}

}  // namespace taltrix::app
