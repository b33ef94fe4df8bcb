// The settings of firewall and proxy traversal: the firewall (or SOCKS)
// endpoint the connection goes through, and the HTTP proxy. They are kept
// here, apart from any layer, so that the socket, the tunnel and the HTTP
// layer read one record; the properties and Config write it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "control/engine/setting.h"
#include "control/transport/system_proxy.h"

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

// The ProxySSLTypes enumeration.
namespace proxy_ssl {
inline constexpr int automatic = 0;
inline constexpr int always = 1;
inline constexpr int never = 2;
inline constexpr int tunnel = 3;
}  // namespace proxy_ssl

// How one connection leaves: straight to the remote host, through a
// firewall or tunnelling proxy that is negotiated first, or to an HTTP proxy
// that takes the request itself (its request line then names the whole URL).
enum class ProxyRoad { direct, firewall, httpProxy };

// The road of the connection in progress, chosen when it starts.
struct Passage {
    ProxyRoad road = ProxyRoad::direct;
    int kind = 0;  // a firewall_kind on the firewall road
    // The firewall's or the HTTP proxy's endpoint and credentials.
    std::string host;
    int port = 0;
    std::string user;
    std::string password;
    // The secure channel runs for this connection: with the remote host on
    // the direct and firewall roads, with the proxy itself on the HTTP proxy
    // road (ProxySSL psAlways).
    bool secureChannel = false;
    // SOCKS 5 sends the remote host's name for the proxy to resolve.
    bool proxyResolvesNames = false;
    // A road that cannot be taken: its failure (153 with its text), else 0.
    int code = 0;
    std::string text;
};

struct ProxySettings {
    // A firewall kind brings its protocol's port when none is set; none
    // clears the port.
    void setFirewallType(int kind);
    // Either way the previous firewall endpoint no longer applies. Switched
    // on, both read the system's "socks=" entry into the firewall settings.
    void setFirewallAutoDetect(bool detect);
    void setProxyAutoDetect(bool detect);
    // The system's HTTP proxy for a connection of `scheme` becomes
    // ProxyServer and ProxyPort, and ProxySSL follows the scheme (psTunnel
    // for the secure one, psAutomatic otherwise). False when the system
    // names none; nothing changes then.
    bool applySystemHttpProxy(const SystemProxy& system, std::string_view scheme, bool secure);
    SystemProxy systemProxy() const { return systemSource ? systemSource() : readSystemProxy(); }

    // The kind the socket sees: the chosen road's when one was chosen (a
    // firewall layer is in the stack), else FirewallType.
    int firewallKindInForce() const;
    // The remote host's name travels to a proxy that resolves it.
    bool farSideResolves() const;

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

    // Not settings: what auto-detection and the connection in progress left.
    // A detected socks5h:// (socks4a://) proxy resolves the names it is sent.
    bool firewallResolvesNames = false;
    // Set by the firewall layer for each connection it starts.
    std::optional<Passage> passage;
    // Where the system's proxy settings are read; tests put theirs here.
    SystemProxySource systemSource;

private:
    void detectFirewall();
};

}  // namespace morvane
