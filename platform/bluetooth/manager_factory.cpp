#include <string_view>

#include "platform/bluetooth/bluetooth.h"
#include "platform/bluetooth/emulator_backend.h"
#include "platform/bluetooth/emulator_devices.h"
#include "platform/bluetooth/system_backend.h"

namespace taltrix::bluetooth {

std::unique_ptr<Manager> createManager(const std::optional<std::string>& option, std::string& error) {
    if (!option) return createSystemManager();
    const std::string_view text = *option;
    if (!text.starts_with(emulatorScheme)) {
        error = "--bluetooth takes emulator:NAME@HOST:PORT[,NAME@HOST:PORT...]";
        return nullptr;
    }
    std::vector<EmulatedDevice> devices = parseEmulatedDevices(text.substr(emulatorScheme.size()), error);
    if (devices.empty()) return nullptr;
    return createEmulatorManager(std::move(devices));
}

}  // namespace taltrix::bluetooth
