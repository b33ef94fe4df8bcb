// The launch monitor's Bluetooth serial link: finding the Ernest Sports
// devices in range, connecting to the remembered one, handing its data to
// the shot framer, and writing command lines (club commands, AT commands)
// back to it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "bridge/links/device_list.h"
#include "bridge/links/link_shell.h"
#include "bridge/shot/ports.h"
#include "platform/bluetooth/bluetooth.h"

namespace taltrix::links {

// The discovery duration, in the stack's inquiry units.
inline constexpr std::uint8_t discoveryDuration = 15;

class BluetoothLink final : public CommandWriter {
public:
    // `onChunk` receives the device's text; `onConnected` runs after each
    // successful connection (the TGC link is opened then).
    BluetoothLink(LinkShell& shell, bluetooth::Manager& manager, std::function<void(std::string_view)> onChunk,
                  std::function<void()> onConnected);
    ~BluetoothLink() override;

    // Window load and unload.
    void createObjects();
    void openManager() { manager_.open(); }
    void releaseObjects();

    // The buttons.
    void btDiscover_Click();
    void btConnect_Click();
    void btDisconnect_Click();
    void btGetRSSI_Click();
    void btSend_Click(std::string_view command);

    // The connection timer's tick: the Connect button's work, or a new
    // discovery while the last look found no radio or no device. Otherwise a
    // Bluetooth switched on, an adapter plugged in or a device come into
    // range after start-up would never be seen.
    void connectionTick();

    // Command write: the text and a CR as bytes, 0 on success.
    CommandWriteResult writeCommand(std::string_view command) override;

    // The adapters, the link's state and the devices found, as text for a
    // support request (bluetooth_report.cpp).
    std::string report();

    bool btConnected() const { return btConnected_; }
    // Told after the device's link went down (the Open Connect link reports
    // the monitor's readiness to its simulator).
    void setOnDisconnected(std::function<void()> onDisconnected) { onDisconnected_ = std::move(onDisconnected); }
    int clientState() const { return client_ ? client_->state() : bluetooth::clientIdle; }
    DeviceList& devices() { return devices_; }

private:
    bluetooth::RadioPtr fn_get_radio();
    void lightOff();
    void discoveryStarted();
    void discoveryComplete(const bluetooth::RadioPtr& radio, const std::vector<bluetooth::DevicePtr>* devices);
    void connected(int error);
    void disconnected();

    LinkShell& shell_;
    bluetooth::Manager& manager_;
    std::function<void(std::string_view)> onChunk_;
    std::function<void()> onConnected_;
    std::function<void()> onDisconnected_;
    std::unique_ptr<bluetooth::Discovery> discovery_;
    std::unique_ptr<bluetooth::Client> client_;
    DeviceList devices_;
    bool btConnected_ = false;
    // The last look found no radio (or the radio went): the device list is
    // out of date until a discovery runs again.
    bool radioWasMissing_ = false;
};

}  // namespace taltrix::links
