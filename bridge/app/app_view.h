// What the application core asks of its front end: the window, or the
// headless front end that stands in for it.
#pragma once

#include <string_view>

#include "bridge/app/raw_data.h"
#include "bridge/app/settings.h"
#include "bridge/app/status_board.h"
#include "bridge/app/status_lights.h"

namespace taltrix::app {

enum class WindowIcon {
    ico1,  // launch-monitor link lost or failed
    ico2,  // connected
    ico3,  // connecting (start-up)
};

enum class TrayChange { none, appeared, vanished };

class AppView : public StatusView, public RawDataView, public LightsView {
public:
    // Selects the option button (without running its click handler) and sets
    // lblName and the window caption.
    virtual void applySimulatorChoice(const SimulatorChoice& choice) = 0;

    virtual bool hasWindow() const = 0;
    virtual bool trayAvailable() const = 0;
    virtual void deleteTrayIcon() = 0;
    virtual void addTrayIcon(WindowIcon icon, std::string_view tip) = 0;
    virtual void setWindowIcon(WindowIcon icon) = 0;

    // Load step 8 without the hiding: test buttons, status pictures and
    // picTray hidden, btn_system_tray shown, normal size, lblName as wide as
    // the window.
    virtual void applyStartLayout() = 0;
    // Load step 9: meAns, txt_status, lblStatus and lblData shown and the
    // tall size in debug mode; hidden and the short size otherwise.
    virtual void applyDebugLayout(bool debug) = 0;
    // cbServices on its entry 1.
    virtual void selectDefaultService() = 0;

    virtual bool isMaximized() const = 0;
    virtual bool isMinimized() const = 0;
    virtual void showNormal() = 0;
    virtual void minimizeAndHide() = 0;
    // Where there is no tray to hide in: minimised, still on the task bar.
    virtual void minimizeToTaskBar() = 0;
    // Whether the desktop's system tray came or went since the last call
    // (its host may start after Taltrix, or stop). After `appeared` the tray
    // icon is ready to add.
    virtual TrayChange trayChange() = 0;
    virtual void setBusyPointer(bool busy) = 0;

    virtual void letEventsRun() = 0;
    // Leaves the event loop; the process ends once it returns.
    virtual void endProgram() = 0;
};

}  // namespace taltrix::app
