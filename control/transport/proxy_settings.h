// The settings of firewall and proxy traversal: the firewall (or SOCKS)
// endpoint the connection goes through, and the HTTP proxy. They are kept
// here, apart from any layer, so that the socket, the tunnel and the HTTP
// layer read one record; the properties and Config write it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "control/engine/setting.h"

namespace morvane {

// Kinds of passage through a firewall or proxy. The public FirewallType values
// are 0 to 3; the others are chosen internally from the proxy settings.
namespace firewall_kind {
inline constexpr int none = 0;
inline constexpr int tunnel = 1;
inline constexpr int socks4 = 2;
inline constexpr int socks5 = 3;
inline constexpr int tunnelNtlm = 4;
inline constexpr int tunnelNegotiate = 5;
inline constexpr int tunnelDigest = 6;
}  // namespace firewall_kind

struct ProxySettings {
    // A firewall kind brings its protocol's port when none is set; none
    // clears the port.
    void setFirewallType(int kind);
    // Either way the previous firewall endpoint no longer applies.
    void setFirewallAutoDetect(bool detect);
    void setProxyAutoDetect(bool detect);

    static std::span<const Setting<ProxySettings>> settings();

    std::int32_t firewallType = firewall_kind::none;
    std::string firewallHost;
    std::int32_t firewallPort = 0;
    std::string firewallUser;
    std::string firewallPassword;
    bool firewallAutoDetect = false;
    std::string proxyExceptionsList;

    std::string proxyServer;
    std::int32_t proxyPort = 80;
    std::string proxyUser;
    std::string proxyPassword;
    std::int32_t proxyAuthScheme = 0;
    std::int32_t proxySsl = 0;
    bool proxyAutoDetect = false;
};

}  // namespace morvane
