#include "bridge/links/bluetooth_link.h"

#include <exception>
#include <span>
#include <stdexcept>
#include <vector>

#include "platform/text/code_page.h"

namespace taltrix::links {

namespace {

constexpr int blinkWhileDiscovering = 800;
constexpr int blinkWhileListing = 400;
constexpr int blinkWhileDisconnected = 400;

constexpr std::string_view objectNotSet = "Object variable or With block variable not set";

// Said after "Unable to connect to ES16" when the stack knows the device
// but has not paired with it, which is the usual first-day problem.
constexpr std::string_view notPairedHead = " is not paired with this computer. Pair it in the Bluetooth settings ";
constexpr std::string_view notPairedTail = "(or with bluetoothctl), then Taltrix connects to it by itself.";

constexpr std::string_view discoveryErrorPrefix = "Error on ES discovery: ";
constexpr std::string_view connectErrorPrefix = "Error on ES connect: ";
// The description of an error that brings none of its own.
constexpr std::string_view undescribedError = "Application-defined or object-defined error";

// The stack raises its events from the event loop, where an error escaping a
// handler would end the program. The handler stops where the error struck
// and the user reads what went wrong on the status line instead.
template <class Handler>
void reportErrors(LinkShell& shell, std::string_view prefix, Handler&& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        shell.showStatus(std::string(prefix) + error.what());
    } catch (...) {
        shell.showStatus(std::string(prefix) + std::string(undescribedError));
    }
}

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
        reportErrors(shell_, discoveryErrorPrefix, [&] { discoveryComplete(radio, devices); });
    };
    client_ = manager_.createClient();
    client_->onConnect = [this](int error) { reportErrors(shell_, connectErrorPrefix, [&] { connected(error); }); };
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
        radioWasMissing_ = true;
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

void BluetoothLink::connectionTick() {
    if (client_ && client_->state() == bluetooth::clientIdle && (radioWasMissing_ || devices_.rows().empty())) {
        btDiscover_Click();
        return;
    }
    btConnect_Click();
}

void BluetoothLink::discoveryStarted() {
    radioWasMissing_ = false;
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
        // The names are read through the radio the discovery ran on.
        if (!radio) throw std::runtime_error(std::string(objectNotSet));
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
        const auto row = devices_.selected();
        if (row && row->address == client_->settings.address &&
            manager_.pairing(row->address) == bluetooth::Pairing::unpaired) {
            shell_.showStatus(row->name + std::string(notPairedHead) + std::string(notPairedTail));
        }
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
    if (onDisconnected_) onDisconnected_();
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
    // The device reads single bytes in the system's ANSI code page. Our text
    // is in that code page already, but not every byte string is text in it
    // (a multi-byte ANSI code page has sequences that are none), so the line
    // is taken through the code-page layer: what the device gets is the text
    // as the window shows it, with the replacement where a sequence was
    // broken.
    std::string line(command);
    line += '\r';
    const std::u16string text = codepage::multiByteToWide(codepage::CP_ACP, line).text;
    const std::string ansi = codepage::wideToMultiByte(codepage::CP_ACP, text).text;
    return {client_->write(std::span(reinterpret_cast<const std::uint8_t*>(ansi.data()), ansi.size())), {}};
}

}  // namespace taltrix::links
