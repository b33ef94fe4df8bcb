// What the links ask of the window they live on: the status display, the
// notification icon, the Bluetooth light and its blink timer, the busy
// pointer, the device list and a few settings. The window's core provides
// it (app_core_shell.h); tests provide their own.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "bridge/app/app_view.h"

namespace taltrix::links {

// The device list `lvDevices`: address in the row text, name in sub-item 1.
class DeviceListView {
public:
    virtual ~DeviceListView() = default;
    virtual void clearRows() = 0;
    virtual void addRow(std::string_view address, std::string_view name) = 0;
    // Selects the row (0-based); -1 selects none.
    virtual void selectRow(int row) = 0;
    virtual void focusList() = 0;

    // Told of the row the user picks in the list (0-based, -1 for none).
    std::function<void(int row)> onUserSelected;
};

class LinkShell {
public:
    virtual ~LinkShell() = default;

    virtual void showStatus(std::string_view message) = 0;  // fn_show_status
    virtual void showLabelOnly(std::string_view text) = 0;
    virtual void replaceTrayIcon(app::WindowIcon icon, std::string_view tip) = 0;
    virtual void letEventsRun() = 0;

    // The hourglass pointer marks a running discovery.
    virtual void setHourglass(bool on) = 0;
    virtual bool inTray() const = 0;

    // `Timer_BT` blinking the Bluetooth light, and the light itself.
    virtual void startBluetoothBlink(int intervalMs) = 0;
    virtual void setBluetoothBlinkInterval(int intervalMs) = 0;
    virtual void stopBluetoothBlink() = 0;
    virtual void setBluetoothLight(bool on) = 0;

    virtual std::string preselectedDevice() const = 0;  // BT_Connected_device
    virtual DeviceListView& deviceList() = 0;
};

}  // namespace taltrix::links
