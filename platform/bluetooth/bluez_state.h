// What BlueZ says about its adapters and devices, read straight from its
// D-Bus objects on the system bus. Qt Bluetooth leaves out what the bridge
// needs to tell a user (an adapter switched off, a device known but not
// paired) and decides once per process whether BlueZ is there at all, so the
// backend looks for itself before it lets Qt near the bus.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace taltrix::bluetooth {

struct BluezAdapter {
    std::string path;
    std::string address;
    std::string name;
    bool powered = false;
    bool discovering = false;
};

struct BluezDevice {
    std::string path;
    std::string adapterPath;
    std::string address;
    std::string name;
    bool paired = false;
    bool trusted = false;
    bool connected = false;
    std::vector<std::string> uuids;
};

struct BluezState {
    // Whether bluetoothd answered; `error` says why not.
    bool running = false;
    std::string error;
    std::vector<BluezAdapter> adapters;
    std::vector<BluezDevice> devices;

    const BluezDevice* device(const std::string& address) const;
};

// Whether bluetoothd (the org.bluez name) is on the system bus now.
bool bluezOnBus();

// The adapters and devices BlueZ has now.
BluezState readBluezState();

// The version bluetoothd gives with --version, found the way Qt Bluetooth
// finds it (the program of the process that owns org.bluez), or nothing.
std::optional<std::string> bluetoothdVersion();

}  // namespace taltrix::bluetooth
