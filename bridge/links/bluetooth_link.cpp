#include "bridge/links/bluetooth_link.h"

#include <vector>

namespace taltrix::links {

namespace {

constexpr int blinkWhileDiscovering = 800;
constexpr int blinkWhileListing = 400;
constexpr int blinkWhileDisconnected = 400;

constexpr std::string_view objectNotSet = "Object variable or With block variable not set";

}  // namespace

BluetoothLink::BluetoothLink(LinkShell& shell, bluetooth::Manager& manager,
                             std::function<void(std::string_view)> onChunk, std::function<void()> onConnected)
    : shell_(shell),
      manager_(manager),
      onChunk_(std::move(onChunk)),
      onConnected_(std::move(onConnected)),
      devices_(shell.deviceList()) {}

BluetoothLink::~BluetoothLink() { releaseObjects(); }

void BluetoothLink::createObjects() {
    discovery_ = manager_.createDiscovery();
    discovery_->onDiscoveryStarted = [this](const bluetooth::RadioPtr&) { discoveryStarted(); };
    discovery_->onDiscoveryComplete = [this](const bluetooth::RadioPtr& radio,
                                             const std::vector<bluetooth::DevicePtr>* devices) {
        discoveryComplete(radio, devices);
    };
    client_ = manager_.createClient();
    client_->onConnect = [this](int error) { connected(error); };
    client_->onData = [this](std::span<const std::uint8_t> bytes) {
        // One character per byte, as the ANSI code page has it.
        onChunk_(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    };
    client_->onDisconnect = [this] { disconnected(); };
}

void BluetoothLink::releaseObjects() {
    if (client_) {
        client_->onConnect = nullptr;
        client_->onData = nullptr;
        client_->onDisconnect = nullptr;
        client_->disconnect();
    }
    if (discovery_ || client_) manager_.close();
    client_.reset();
    discovery_.reset();
}

bluetooth::RadioPtr BluetoothLink::fn_get_radio() {
    std::vector<bluetooth::RadioPtr> radios;
    bluetooth::RadioPtr radio;
    if (discovery_ && discovery_->listRadios(radios) == bluetooth::resultOk && !radios.empty()) radio = radios[0];
    if (!radio) {
        shell_.setHourglass(false);
        shell_.stopBluetoothBlink();
        shell_.setBluetoothLight(false);
        shell_.showLabelOnly("No Bluetooth found, please turn Bluetooth on.");
    }
    return radio;
}

void BluetoothLink::lightOff() {
    shell_.stopBluetoothBlink();
    shell_.setBluetoothLight(false);
}

void BluetoothLink::btDiscover_Click() {
    shell_.setHourglass(true);
    if (const bluetooth::RadioPtr radio = fn_get_radio()) discovery_->start(radio, discoveryDuration, 0);
}

void BluetoothLink::discoveryStarted() {
    shell_.startBluetoothBlink(blinkWhileDiscovering);
    devices_.clear();
    shell_.showStatus("Discovery started");
}

void BluetoothLink::discoveryComplete(const bluetooth::RadioPtr& radio,
                                      const std::vector<bluetooth::DevicePtr>* devices) {
    int added = 0;
    if (devices == nullptr) {
        lightOff();
        shell_.showLabelOnly("Bluetooth device discovery error");
    } else if (devices->empty()) {
        lightOff();
        shell_.showLabelOnly("No Bluetooth devices found");
    } else {
        for (const bluetooth::DevicePtr& device : *devices) {
            std::string name;
            if (device->readName(*radio, name) != bluetooth::resultOk || !isErnestSportsDevice(name)) continue;
            devices_.add(device->address(), name);
            ++added;
            shell_.showStatus("Device added to list: " + name);
            shell_.setBluetoothBlinkInterval(blinkWhileListing);
        }
        devices_.selectRemembered(shell_.preselectedDevice());
        if (!shell_.inTray()) devices_.view().focusList();
        shell_.showStatus("Discovery ended");
    }
    if (added == 0) shell_.showLabelOnly("No Ernest Sports devices available");
    shell_.setHourglass(false);
}

void BluetoothLink::btConnect_Click() {
    if (!client_ || client_->state() != bluetooth::clientIdle) return;
    const bluetooth::RadioPtr radio = fn_get_radio();
    if (!radio) return;
    const auto row = devices_.selected();
    if (!row) {
        shell_.showStatus("Select Ernest Sports device");
        return;
    }
    client_->transport = bluetooth::transportClassic;
    client_->settings = {row->address, radio, bluetooth::serialPortServiceUuid};
    client_->connect();
}

void BluetoothLink::connected(int error) {
    if (error != bluetooth::resultOk) {
        shell_.showStatus("Unable to connect to ES16");
        btConnected_ = false;
        shell_.replaceTrayIcon(app::WindowIcon::ico1, "Unable to connect to ES16");
        return;
    }
    shell_.showStatus("Connected to ES16");
    shell_.stopBluetoothBlink();
    shell_.setBluetoothLight(true);
    btConnected_ = true;
    shell_.replaceTrayIcon(app::WindowIcon::ico2, "Connected");
    if (onConnected_) onConnected_();
}

void BluetoothLink::disconnected() {
    shell_.showStatus("Disconnected");
    shell_.startBluetoothBlink(blinkWhileDisconnected);
    btConnected_ = false;
    shell_.replaceTrayIcon(app::WindowIcon::ico1, "Disconnected");
}

void BluetoothLink::btDisconnect_Click() {
    if (client_) client_->disconnect();
    shell_.showStatus("Disconnected");
    lightOff();
}

void BluetoothLink::btGetRSSI_Click() {
    if (!client_ || client_->state() != bluetooth::clientConnected) {
        lightOff();
        shell_.showLabelOnly("Client not connected");
        return;
    }
    std::int32_t rssi = 0;
    const int result = manager_.signalStrength(client_->settings.address, client_->settings.radio, rssi);
    if (!manager_.isFailure(result)) shell_.showStatus("RSSI=" + std::to_string(rssi));
}

void BluetoothLink::btSend_Click(std::string_view command) {
    if (command.empty()) {
        shell_.showLabelOnly("Enter AT command");
        return;
    }
    writeCommand(command);
}

CommandWriteResult BluetoothLink::writeCommand(std::string_view command) {
    if (!client_) return {0, std::string(objectNotSet)};
    std::vector<std::uint8_t> bytes(command.begin(), command.end());
    bytes.push_back('\r');
    return {client_->write(bytes), {}};
}

}  // namespace taltrix::links
