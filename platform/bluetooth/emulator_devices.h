// The --bluetooth emulator:NAME@HOST:PORT[,...] option, read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace taltrix::bluetooth {

struct EmulatedDevice {
    std::string name;
    std::string host;
    std::uint16_t port = 0;

    // The address the device list shows and the client connects to.
    std::string address() const;
};

// Reads the part after "emulator:". Fills `error` and returns an empty list
// when any entry is malformed. Hosts may be names, IPv4 or [IPv6].
std::vector<EmulatedDevice> parseEmulatedDevices(std::string_view list, std::string& error);

inline constexpr std::string_view emulatorScheme = "emulator:";

}  // namespace taltrix::bluetooth
