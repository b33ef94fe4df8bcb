// The system's proxy settings, as the Internet Settings of the current user
// keep them, and the readings of their texts the firewall layer needs.
//
// On this platform the values live in the registry stand-in's user hive,
// under "Software\Microsoft\Windows\CurrentVersion\Internet Settings". A user
// without that key gets the conventional proxy variables of the environment
// instead, translated into the same three values (see proxyFromEnvironment).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace com::registry {
class Hive;
}

namespace morvane {

inline constexpr std::string_view kInternetSettingsKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
// The longest ProxyServer value the system's reader takes.
inline constexpr std::size_t kMaxProxyServerLength = 399;

struct SystemProxy {
    // The Internet Settings key exists (or, from the environment, a proxy
    // variable is set).
    bool found = false;
    std::uint32_t proxyEnable = 0;
    // "socks=h:1080;http=h:3128", "h:8080", "https://h:443;..." as written.
    std::string proxyServer;
    // The bypass list, entries separated by ";".
    std::string proxyOverride;
    // Only the environment can say these: a socks4:// proxy speaks SOCKS 4,
    // and socks5h:// (or socks4a://) wants the proxy to resolve names.
    bool socks4 = false;
    bool socksResolvesNames = false;
};

// Where the values come from. Tests put their own in place.
using SystemProxySource = std::function<SystemProxy()>;

// The user hive's Internet Settings, else the environment.
SystemProxy readSystemProxy();

// The Internet Settings key of one hive; found is false without the key.
SystemProxy systemProxyFromHive(const com::registry::Hive& hive);

// The environment's proxy variables as Internet Settings values:
//   https_proxy  -> "https=host:port"   http_proxy -> "http=host:port"
//   all_proxy    -> "host:port" (every scheme), or "socks=host:port" when it
//                   names a socks4://, socks4a://, socks5:// or socks5h:// URL
//   no_proxy     -> the bypass list: "a.example,.b.example" gives
//                   "a.example;*.a.example;*.b.example"; "*" bypasses all
// Each name is read in lower case, then in upper case. A proxy URL's user
// and path are ignored. proxyEnable is 1 when any proxy variable gave an
// entry; found, when any variable was set.
using EnvironmentLookup = std::function<std::optional<std::string>(std::string_view name)>;
SystemProxy proxyFromEnvironment(const EnvironmentLookup& lookup);

// The "socks=" entry of a ProxyServer value: the host runs to ":" (or to the
// entry's end), the digits after ":" up to ";" are the port (0 when absent).
struct SocksEntry {
    std::string host;
    int port = 0;
};
std::optional<SocksEntry> socksEntry(std::string_view proxyServer);

// The entry of a ProxyServer value that serves `scheme`: the first, in list
// order, that names the scheme ("http=h:p" or "http://h:p") or names none
// ("h:p"). The web socket schemes are served by the entries of their HTTP
// counterparts (ws by http, wss by https) as well as by their own. A "socks"
// entry serves no HTTP scheme.
struct HttpProxyEntry {
    std::string host;
    std::optional<int> port;
};
std::optional<HttpProxyEntry> httpProxyEntry(std::string_view proxyServer, std::string_view scheme);

}  // namespace morvane
