#include "control/transport/proxy_settings.h"

namespace morvane {
namespace {

int defaultFirewallPort(int kind) {
    switch (kind) {
        case firewall_kind::tunnel:
        case firewall_kind::tunnelNtlm:
        case firewall_kind::tunnelNegotiate:
        case firewall_kind::tunnelDigest: return 80;
        case firewall_kind::socks4:
        case firewall_kind::socks5: return 1080;
        default: return 0;
    }
}

}  // namespace

void ProxySettings::setFirewallType(int kind) {
    firewallType = kind;
    if (kind == firewall_kind::none)
        firewallPort = 0;
    else if (firewallPort == 0)
        firewallPort = defaultFirewallPort(kind);
}

void ProxySettings::setFirewallAutoDetect(bool detect) {
    firewallAutoDetect = detect;
    firewallHost.clear();
    firewallPort = 0;
    if (detect) detectFirewall();
}

void ProxySettings::setProxyAutoDetect(bool detect) {
    proxyAutoDetect = detect;
    firewallHost.clear();
    firewallPort = 0;
    if (detect) detectFirewall();
}

void ProxySettings::detectFirewall() {
    firewallResolvesNames = false;
    const SystemProxy system = systemProxy();
    if (system.proxyEnable == 0) return;
    const std::optional<SocksEntry> socks = socksEntry(system.proxyServer);
    if (!socks) return;
    firewallHost = socks->host;
    setFirewallType(system.socks4 ? firewall_kind::socks4 : firewall_kind::socks5);
    if (socks->port != 0) firewallPort = socks->port;
    firewallResolvesNames = system.socksResolvesNames;
}

bool ProxySettings::applySystemHttpProxy(const SystemProxy& system, std::string_view scheme, bool secure) {
    if (system.proxyEnable == 0) return false;
    const std::optional<HttpProxyEntry> entry = httpProxyEntry(system.proxyServer, scheme);
    if (!entry) return false;
    proxyServer = entry->host;
    if (entry->port) proxyPort = *entry->port;
    proxySsl = secure ? proxy_ssl::tunnel : proxy_ssl::automatic;
    return true;
}

int ProxySettings::firewallKindInForce() const {
    if (!passage) return firewallType;
    return passage->road == ProxyRoad::firewall ? passage->kind : firewall_kind::none;
}

bool ProxySettings::farSideResolves() const {
    if (!passage) return firewallType != firewall_kind::none;
    return passage->road != ProxyRoad::direct;
}

std::span<const Setting<ProxySettings>> ProxySettings::settings() {
    using P = ProxySettings;
    static const Setting<P> table[] = {
        {.name = "FirewallAutoDetect",
         .boolean = &P::firewallAutoDetect,
         .write =
             [](P& p, std::string_view v) {
                 p.setFirewallAutoDetect(configBoolean(v));
                 return 0;
             }},
        {.name = "FirewallHost", .text = &P::firewallHost},
        {.name = "FirewallPort", .integer = &P::firewallPort},
        {.name = "FirewallType",
         .integer = &P::firewallType,
         .write =
             [](P& p, std::string_view v) {
                 p.setFirewallType(configInteger32(v));
                 return 0;
             }},
        {.name = "FirewallUser", .text = &P::firewallUser},
        {.name = "FirewallPassword", .text = &P::firewallPassword},
        {.name = "ProxyExceptionsList", .text = &P::proxyExceptionsList},
        // Taken for the callers that still send it; it has no effect.
        {.name = "FirewallData", .access = SettingAccess::WriteOnly, .write = [](P&, std::string_view) { return 0; }},
        {.name = "ProxyServer", .text = &P::proxyServer},
        {.name = "ProxyPort", .integer = &P::proxyPort},
        {.name = "ProxyUser", .text = &P::proxyUser},
        {.name = "ProxyPassword", .text = &P::proxyPassword},
        {.name = "ProxyAuthScheme", .integer = &P::proxyAuthScheme},
    };
    return table;
}

}  // namespace morvane
