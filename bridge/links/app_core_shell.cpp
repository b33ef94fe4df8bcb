#include "bridge/links/app_core_shell.h"

#include <QCoreApplication>

namespace taltrix::links {

AppCoreShell::AppCoreShell(app::AppCore& core, std::unique_ptr<DeviceListView> deviceList)
    : core_(core), deviceList_(deviceList ? std::move(deviceList) : std::make_unique<UnshownDeviceList>()) {}

void AppCoreShell::letEventsRun() { QCoreApplication::processEvents(); }

void AppCoreShell::startBluetoothBlink(int intervalMs) {
    core_.Timer_BT().setInterval(intervalMs);
    core_.Timer_BT().start();
}

void AppCoreShell::setBluetoothLight(bool on) {
    if (on) {
        core_.lights().switchOn(app::Light::bt);
    } else {
        core_.lights().switchOff(app::Light::bt);
    }
}

}  // namespace taltrix::links
