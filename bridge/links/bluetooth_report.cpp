#include "bridge/links/bluetooth_report.h"

#include "bridge/links/bluetooth_link.h"

namespace taltrix::links {

namespace {

std::string stateName(int state) {
    switch (state) {
        case bluetooth::clientIdle: return "idle";
        case bluetooth::clientConnected: return "connected";
        default: return "connecting (" + std::to_string(state) + ")";
    }
}

}  // namespace

std::string adapterReport(bluetooth::Discovery& discovery) {
    std::vector<bluetooth::RadioPtr> radios;
    const int result = discovery.listRadios(radios);
    if (result != bluetooth::resultOk) return "adapters: cannot be listed (result " + std::to_string(result) + ")\n";
    if (radios.empty()) return "adapters: none (Bluetooth is off or there is no adapter)\n";
    std::string text;
    for (std::size_t i = 0; i < radios.size(); ++i) {
        text += "adapter " + std::to_string(i) + ": " + radios[i]->name() + " " + radios[i]->address() + "\n";
    }
    return text;
}

std::string adapterReport(bluetooth::Manager& manager) {
    manager.open();
    const std::unique_ptr<bluetooth::Discovery> discovery = manager.createDiscovery();
    std::string text = adapterReport(*discovery) + manager.stackReport(isErnestSportsDevice);
    manager.close();
    return text;
}

std::string BluetoothLink::report() {
    std::string text = discovery_ ? adapterReport(*discovery_) : "adapters: the Bluetooth objects are released\n";
    text += manager_.stackReport(isErnestSportsDevice);
    text += "link: " + stateName(clientState()) + (btConnected_ ? ", connected to the launch monitor" : "") + "\n";
    if (client_ && !client_->settings.address.empty()) text += "last connection: " + client_->settings.address + "\n";
    const std::optional<DeviceRow> selected = devices_.selected();
    text += "devices found: " + std::to_string(devices_.rows().size()) + "\n";
    for (const DeviceRow& row : devices_.rows()) {
        const bool isSelected = selected && selected->address == row.address;
        text += (isSelected ? "  * " : "    ") + row.address + " " + row.name + "\n";
    }
    return text;
}

}  // namespace taltrix::links
