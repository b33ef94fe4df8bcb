// Emulated launch monitors: discovery finds exactly the devices given on
// the command line, and a connection is a TCP connection to the device's
// endpoint whose bytes are the serial stream. A refused or closed
// connection behaves as a failed or lost Bluetooth link.
#pragma once

#include <memory>
#include <vector>

#include "platform/bluetooth/bluetooth.h"
#include "platform/bluetooth/emulator_devices.h"

namespace taltrix::bluetooth {

// An emulated link has no radio behind it; this is what it reports as its
// signal strength, a good close-range value.
inline constexpr std::int32_t emulatedSignalStrength = -42;

std::unique_ptr<Manager> createEmulatorManager(std::vector<EmulatedDevice> devices);

}  // namespace taltrix::bluetooth
