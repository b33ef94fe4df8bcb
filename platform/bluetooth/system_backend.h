// The system's Bluetooth stack (BlueZ), through Qt Bluetooth: classic
// discovery and an RFCOMM client to the device's serial port service.
#pragma once

#include <memory>

#include "platform/bluetooth/bluetooth.h"

namespace taltrix::bluetooth {

std::unique_ptr<Manager> createSystemManager();

}  // namespace taltrix::bluetooth
