#include "control/transport/proxy_passage.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "control/transport/system_proxy.h"
#include "platform/com/registry_hive.h"

namespace morvane {
namespace {

TEST(ProxyBypass, EntriesMatchHostSchemeFormAndPort) {
    struct Case {
        std::string_view list;
        std::string_view scheme;
        std::string_view host;
        int port;
        bool matches;
    };
    const Case cases[] = {
        {"relay.example", "wss", "relay.example", 443, true},
        {"  other.example ; relay.example\t", "wss", "relay.example", 443, true},
        {"RELAY.Example", "ws", "relay.example", 80, true},
        {"relay.example", "ws", "relay.example.net", 80, false},
        {"*.example", "ws", "relay.example", 80, true},
        {"*.example", "ws", "example", 80, false},
        {"10.1.*", "ws", "10.1.2.3", 80, true},
        {"10.1.*", "ws", "10.2.1.3", 80, false},
        {"8443", "wss", "relay.example", 8443, true},
        {"8443", "wss", "relay.example", 443, false},
        {"relay.example:8443", "wss", "relay.example", 8443, true},
        {"wss://relay.example", "wss", "relay.example", 443, true},
        {"https://relay.example", "wss", "relay.example", 443, true},
        {"http://relay.example", "ws", "relay.example", 80, true},
        {"https://relay.example", "ws", "relay.example", 80, false},
        {"http://*", "ws", "anything.example", 80, true},
        {"<local>", "ws", "intranet", 80, true},
        {"<LOCAL>", "ws", "intranet.example", 80, false},
        {"<local>", "ws", "::1", 80, false},
        {"", "ws", "relay.example", 80, false},
        {";;", "ws", "relay.example", 80, false},
        {"*", "ws", "relay.example", 80, true},
        {"99999999", "ws", "relay.example", 80, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bypassListMatches(c.list, {c.scheme, false, c.host, c.port}), c.matches)
            << "'" << c.list << "' vs " << c.scheme << "://" << c.host << ":" << c.port;
    }
}

TEST(ProxyPassage, RoadAndKindFromTheSettings) {
    struct Case {
        const char* what;
        int firewallType = 0;
        std::string proxyServer;
        int proxySsl = 0;
        int proxyAuthScheme = 0;
        bool secure = false;
        ProxyRoad road;
        int kind = 0;
        bool secureChannel = false;
        std::string host;
        int port = 0;
        int code = 0;
    };
    const Case cases[] = {
        {"nothing set", 0, "", 0, 0, true, ProxyRoad::direct, 0, true, "", 0},
        {"explicit SOCKS 5 wins over a proxy", 3, "proxy", 0, 0, true, ProxyRoad::firewall, 3, true, "fw", 1080},
        {"automatic, secure: tunnel", 0, "proxy", 0, 0, true, ProxyRoad::firewall, 1, true, "proxy", 3128},
        {"automatic, plain: HTTP proxy", 0, "proxy", 0, 0, false, ProxyRoad::httpProxy, 0, false, "proxy", 3128},
        {"always: TLS to the proxy", 0, "proxy", 1, 0, false, ProxyRoad::httpProxy, 0, true, "proxy", 3128},
        {"never: no TLS", 0, "proxy", 2, 0, true, ProxyRoad::httpProxy, 0, false, "proxy", 3128},
        {"tunnel for a plain URL", 0, "proxy", 3, 0, false, ProxyRoad::firewall, 1, false, "proxy", 3128},
        {"authNone tunnels like Basic", 0, "proxy", 3, 3, true, ProxyRoad::firewall, 1, true, "proxy", 3128},
        {"Digest tunnel", 0, "proxy", 3, 1, true, ProxyRoad::firewall, 6, true, "proxy", 3128},
        {"NTLM tunnel", 0, "proxy", 3, 4, true, ProxyRoad::firewall, 4, true, "proxy", 3128},
        {"Negotiate tunnel", 0, "proxy", 3, 5, true, ProxyRoad::firewall, 5, true, "proxy", 3128},
        {"Proprietary cannot tunnel", 0, "proxy", 3, 2, true, ProxyRoad::firewall, 0, true, "proxy", 3128, 153},
        {"OAuth cannot tunnel", 0, "proxy", 0, 6, true, ProxyRoad::firewall, 0, true, "proxy", 3128, 153},
    };
    for (const Case& c : cases) {
        ProxySettings settings;
        settings.firewallHost = "fw";
        settings.setFirewallType(c.firewallType);
        settings.proxyServer = c.proxyServer;
        settings.proxyPort = 3128;
        settings.proxyUser = "pu";
        settings.proxySsl = c.proxySsl;
        settings.proxyAuthScheme = c.proxyAuthScheme;
        const Passage passage =
            planPassage(settings, {c.secure ? "wss" : "ws", c.secure, "relay.example", 443}, nullptr);
        EXPECT_EQ(passage.road, c.road) << c.what;
        EXPECT_EQ(passage.kind, c.kind) << c.what;
        EXPECT_EQ(passage.secureChannel, c.secureChannel) << c.what;
        EXPECT_EQ(passage.host, c.host) << c.what;
        EXPECT_EQ(passage.port, c.port) << c.what;
        EXPECT_EQ(passage.code, c.code) << c.what;
        if (c.code == 153) {
            EXPECT_EQ(passage.text, "Unknown proxy authentication scheme.");
        }
        if (c.host == "proxy") {
            EXPECT_EQ(passage.user, "pu") << c.what;
        }
    }
}

TEST(ProxyPassage, BypassListsSendTheHostStraight) {
    ProxySettings settings;
    settings.firewallHost = "fw";
    settings.setFirewallType(2);
    settings.proxyExceptionsList = "*.internal";
    const PassageRequest internal{"wss", true, "relay.internal", 443};
    const PassageRequest outside{"wss", true, "relay.example", 443};
    EXPECT_EQ(planPassage(settings, internal, nullptr).road, ProxyRoad::direct);
    EXPECT_TRUE(planPassage(settings, internal, nullptr).secureChannel);
    EXPECT_EQ(planPassage(settings, outside, nullptr).road, ProxyRoad::firewall);

    // The system's list counts only when auto-detection hands it in.
    SystemProxy system;
    system.proxyOverride = "relay.example;<local>";
    EXPECT_EQ(planPassage(settings, outside, &system).road, ProxyRoad::direct);
    settings.proxyExceptionsList.clear();
    settings.setFirewallType(0);
    settings.proxyServer = "proxy";
    EXPECT_EQ(planPassage(settings, {"ws", false, "intranet", 80}, &system).road, ProxyRoad::direct);
    EXPECT_EQ(planPassage(settings, {"ws", false, "intranet", 80}, nullptr).road, ProxyRoad::httpProxy);
}

TEST(ProxySettingsTest, FirewallKindSetsItsDefaultPort) {
    struct Case {
        int startPort;
        int kind;
        int port;
    };
    const Case cases[] = {{0, 1, 80},  {0, 2, 1080}, {0, 3, 1080}, {0, 4, 80}, {0, 5, 80}, {0, 6, 80},
                          {81, 4, 81}, {81, 5, 81},  {81, 3, 81},  {81, 0, 0}, {0, 7, 0}};
    for (const Case& c : cases) {
        ProxySettings settings;
        settings.firewallPort = c.startPort;
        settings.setFirewallType(c.kind);
        EXPECT_EQ(settings.firewallPort, c.port) << c.startPort << " kind " << c.kind;
    }
}

TEST(SystemProxyText, SocksAndHttpEntries) {
    const auto socks = socksEntry("http=proxy:3128;socks=h:1081");
    ASSERT_TRUE(socks);
    EXPECT_EQ(socks->host, "h");
    EXPECT_EQ(socks->port, 1081);
    EXPECT_EQ(socksEntry("socks=h")->port, 0);
    EXPECT_EQ(socksEntry("socks=h:;http=x")->host, "h");
    EXPECT_FALSE(socksEntry("http=proxy:3128"));

    struct Case {
        std::string_view value;
        std::string_view scheme;
        std::string host;
        std::optional<int> port;
    };
    const Case cases[] = {
        {"proxy:8080", "ws", "proxy", 8080},
        {"proxy", "wss", "proxy", std::nullopt},
        {"http=plain:3128;https=secure:3129", "wss", "secure", 3129},
        {"http=plain:3128;https=secure:3129", "ws", "plain", 3128},
        {"https=secure:3129;plain:1", "ws", "plain", 1},
        {"socks=s:1080;http://web:81", "ws", "web", 81},
        {"wss=own:9;https=other:8", "wss", "own", 9},
        {" https = [::1]:3129 ", "wss", "::1", 3129},
        {"ftp=f:21", "ws", "", std::nullopt},
        {"socks=s:1080", "wss", "", std::nullopt},
    };
    for (const Case& c : cases) {
        const auto entry = httpProxyEntry(c.value, c.scheme);
        EXPECT_EQ(entry.has_value(), !c.host.empty()) << c.value << " " << c.scheme;
        if (!entry) continue;
        EXPECT_EQ(entry->host, c.host) << c.value;
        EXPECT_EQ(entry->port, c.port) << c.value;
    }
}

TEST(SystemProxyText, InternetSettingsOfTheUserHive) {
    com::registry::Hive hive;
    EXPECT_FALSE(systemProxyFromHive(hive).found);
    hive.setDword(kInternetSettingsKey, "ProxyEnable", 1);
    hive.setString(kInternetSettingsKey, "ProxyServer", "http=p:3128;socks=h:1081" + std::string(500, ' '));
    hive.setString(kInternetSettingsKey, "ProxyOverride", "*.local;<local>");
    const SystemProxy proxy = systemProxyFromHive(hive);
    EXPECT_TRUE(proxy.found);
    EXPECT_EQ(proxy.proxyEnable, 1u);
    EXPECT_EQ(proxy.proxyServer.size(), 399u);
    EXPECT_TRUE(proxy.proxyServer.starts_with("http=p:3128;socks=h:1081"));
    EXPECT_EQ(proxy.proxyOverride, "*.local;<local>");
}

TEST(SystemProxyText, EnvironmentVariables) {
    struct Case {
        std::map<std::string, std::string> variables;
        std::string proxyServer;
        std::string bypass;
        bool socks4 = false;
        bool resolves = false;
    };
    const Case cases[] = {
        {{{"https_proxy", "http://user:pw@secure:3129/"}, {"http_proxy", "plain:3128"}},
         "https=secure:3129;http=plain:3128",
         ""},
        {{{"HTTPS_PROXY", "http://secure:3129"}, {"https_proxy", "http://lower:1"}}, "https=lower:1", ""},
        {{{"ALL_PROXY", "socks5://s:1080"}}, "socks=s:1080", ""},
        {{{"all_proxy", "socks5h://s:1080"}}, "socks=s:1080", "", false, true},
        {{{"all_proxy", "socks4://s:1080"}}, "socks=s:1080", "", true, false},
        {{{"all_proxy", "http://every:8080"}}, "every:8080", ""},
        {{{"http_proxy", "socks5://s:1080"}, {"all_proxy", "socks4://t:1"}}, "socks=s:1080", ""},
        {{{"no_proxy", "a.example, .b.example,10.0.0.1,*"}}, "", "a.example;*.a.example;*.b.example;10.0.0.1;*"},
        {{{"http_proxy", ""}}, "", ""},
    };
    for (const Case& c : cases) {
        const SystemProxy proxy = proxyFromEnvironment([&](std::string_view name) -> std::optional<std::string> {
            const auto found = c.variables.find(std::string(name));
            if (found == c.variables.end()) return std::nullopt;
            return found->second;
        });
        EXPECT_EQ(proxy.proxyServer, c.proxyServer) << c.proxyServer;
        EXPECT_EQ(proxy.proxyOverride, c.bypass);
        EXPECT_EQ(proxy.proxyEnable, c.proxyServer.empty() ? 0u : 1u);
        EXPECT_EQ(proxy.found, !c.proxyServer.empty() || !c.bypass.empty());
        EXPECT_EQ(proxy.socks4, c.socks4) << c.proxyServer;
        EXPECT_EQ(proxy.socksResolvesNames, c.resolves) << c.proxyServer;
    }
}

TEST(ProxySettingsTest, AutoDetectionReadsTheSocksEntry) {
    struct Case {
        std::uint32_t enable;
        std::string server;
        bool socks4 = false;
        int kind;
        std::string host;
        int port;
    };
    const Case cases[] = {
        {1, "http=proxy:3128;socks=h:1081", false, 3, "h", 1081},
        {1, "socks=h", false, 3, "h", 1080},
        {1, "socks=h:1080", true, 2, "h", 1080},
        {0, "socks=h:1081", false, 0, "", 0},
        {1, "http=proxy:3128", false, 0, "", 0},
    };
    for (const bool viaProxyAutoDetect : {false, true}) {
        for (const Case& c : cases) {
            ProxySettings settings;
            settings.firewallHost = "old";
            settings.firewallPort = 9;
            settings.systemSource = [&] {
                SystemProxy system;
                system.found = true;
                system.proxyEnable = c.enable;
                system.proxyServer = c.server;
                system.socks4 = c.socks4;
                return system;
            };
            if (viaProxyAutoDetect)
                settings.setProxyAutoDetect(true);
            else
                settings.setFirewallAutoDetect(true);
            EXPECT_EQ(settings.firewallType, c.kind) << c.server;
            EXPECT_EQ(settings.firewallHost, c.host) << c.server;
            EXPECT_EQ(settings.firewallPort, c.port) << c.server;
        }
    }
}

TEST(ProxySettingsTest, SystemHttpProxyForTheScheme) {
    ProxySettings settings;
    SystemProxy system;
    system.proxyEnable = 1;
    system.proxyServer = "http=plain:3128;https=secure:3129";
    EXPECT_TRUE(settings.applySystemHttpProxy(system, "wss", true));
    EXPECT_EQ(settings.proxyServer, "secure");
    EXPECT_EQ(settings.proxyPort, 3129);
    EXPECT_EQ(settings.proxySsl, proxy_ssl::tunnel);
    EXPECT_TRUE(settings.applySystemHttpProxy(system, "ws", false));
    EXPECT_EQ(settings.proxyServer, "plain");
    EXPECT_EQ(settings.proxySsl, proxy_ssl::automatic);
    system.proxyEnable = 0;
    settings.proxyServer = "mine";
    EXPECT_FALSE(settings.applySystemHttpProxy(system, "ws", false));
    EXPECT_EQ(settings.proxyServer, "mine");
}

}  // namespace
}  // namespace morvane
