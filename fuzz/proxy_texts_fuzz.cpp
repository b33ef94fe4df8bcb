// The system's proxy texts (the ProxyServer and ProxyOverride values, the
// proxy environment variables) and the bypass lists: the input is split at
// its first NUL into a value and a host to match against it.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "control/transport/proxy_passage.h"
#include "control/transport/system_proxy.h"

using namespace morvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string_view value = input.substr(0, split);
    const std::string_view host = split == std::string_view::npos ? "relay.example" : input.substr(split + 1);

    if (const auto socks = socksEntry(value)) {
        if (socks->port < 0 || socks->port > 65535 || value.find(socks->host) == std::string_view::npos) std::abort();
    }
    for (const std::string_view scheme : {"ws", "wss", "http"}) {
        if (const auto entry = httpProxyEntry(value, scheme)) {
            if (entry->host.empty() || entry->host.size() > value.size()) std::abort();
            if (entry->port && (*entry->port < 0 || *entry->port > 65535)) std::abort();
        }
    }
    const PassageRequest request{"wss", true, host, 443};
    const bool matched = bypassListMatches(value, request);
    // A list that holds "*" matches every host.
    if (!matched && bypassListMatches(std::string(value) + ";*", request) == false) std::abort();

    const SystemProxy proxy = proxyFromEnvironment([&](std::string_view name) -> std::optional<std::string> {
        if (name == "all_proxy" || name == "no_proxy") return std::string(value);
        if (name == "HTTPS_PROXY") return std::string(host);
        return std::nullopt;
    });
    if (proxy.proxyEnable > 1) std::abort();
    if (const auto socks = socksEntry(proxy.proxyServer)) {
        if (socks->host.size() > proxy.proxyServer.size()) std::abort();
    }
    return 0;
}
