// The links' view of the application core: the window, or the headless
// front end standing in for it.
#pragma once

#include <memory>

#include "bridge/app/app_core.h"
#include "bridge/links/link_shell.h"

namespace taltrix::links {

class AppCoreShell final : public LinkShell {
public:
    // `deviceList` shows the device rows; without one (headless) they are
    // kept but not shown.
    AppCoreShell(app::AppCore& core, std::unique_ptr<DeviceListView> deviceList);

    void showStatus(std::string_view message) override { core_.fn_show_status(message); }
    void showLabelOnly(std::string_view text) override { core_.showLabelOnly(text); }
    void replaceTrayIcon(app::WindowIcon icon, std::string_view tip) override { core_.replaceTrayIcon(icon, tip); }
    void letEventsRun() override;
    void setHourglass(bool on) override { core_.setHourglass(on); }
    bool inTray() const override { return core_.inTray(); }
    void startBluetoothBlink(int intervalMs) override;
    void setBluetoothBlinkInterval(int intervalMs) override { core_.Timer_BT().setInterval(intervalMs); }
    void stopBluetoothBlink() override { core_.Timer_BT().stop(); }
    void setBluetoothLight(bool on) override;
    std::string preselectedDevice() const override { return core_.settings().values().BT_Connected_device; }
    DeviceListView& deviceList() override { return *deviceList_; }

private:
    app::AppCore& core_;
    std::unique_ptr<DeviceListView> deviceList_;
};

// A device list with nothing to show it on.
class UnshownDeviceList final : public DeviceListView {
public:
    void clearRows() override {}
    void addRow(std::string_view, std::string_view) override {}
    void selectRow(int) override {}
    void focusList() override {}
};

}  // namespace taltrix::links
