#include "platform/bluetooth/emulator_devices.h"

#include <charconv>

namespace taltrix::bluetooth {

std::string EmulatedDevice::address() const {
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::vector<EmulatedDevice> parseEmulatedDevices(std::string_view list, std::string& error) {
    std::vector<EmulatedDevice> devices;
    auto fail = [&](std::string_view entry, std::string_view why) {
        error =
            "bad emulated device \"" + std::string(entry) + "\": " + std::string(why) + " (expected NAME@HOST:PORT)";
        return std::vector<EmulatedDevice>{};
    };
    if (list.empty()) return fail(list, "no devices given");

    while (true) {
        const std::size_t comma = list.find(',');
        const std::string_view entry = list.substr(0, comma);
        // A name may hold "@"; the last one separates it from the endpoint.
        const std::size_t at = entry.rfind('@');
        if (at == std::string_view::npos || at == 0) return fail(entry, "missing NAME@");
        const std::string_view endpoint = entry.substr(at + 1);
        const std::size_t colon = endpoint.rfind(':');
        if (colon == std::string_view::npos || colon == 0) return fail(entry, "missing HOST:PORT");
        std::string_view host = endpoint.substr(0, colon);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
            host = host.substr(1, host.size() - 2);
        } else if (host.find(':') != std::string_view::npos) {
            return fail(entry, "an IPv6 host goes in brackets");
        }
        const std::string_view portText = endpoint.substr(colon + 1);
        unsigned port = 0;
        const auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
        if (ec != std::errc() || end != portText.data() + portText.size() || port == 0 || port > 65535) {
            return fail(entry, "the port must be a number from 1 to 65535");
        }
        devices.push_back({std::string(entry.substr(0, at)), std::string(host), static_cast<std::uint16_t>(port)});
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return devices;
}

}  // namespace taltrix::bluetooth
