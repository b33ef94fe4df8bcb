#include "control/transport/system_proxy.h"

#include <cstdlib>
#include <vector>

#include "control/engine/ascii.h"
#include "platform/com/registry.h"

namespace morvane {
namespace {

// Leading decimal digits as a port: 0 when there are none, nothing past the
// largest port.
int leadingPort(std::string_view text) {
    int port = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') break;
        port = port * 10 + (c - '0');
        if (port > 65535) return 0;
    }
    return port;
}

// "host", "host:port", "[v6]:port" -> host and port.
HttpProxyEntry splitHostPort(std::string_view text) {
    HttpProxyEntry entry;
    text = trimBlanks(text);
    // A trailing slash (and what follows it) is no part of the address.
    if (const std::size_t slash = text.find('/'); slash != std::string_view::npos) text = text.substr(0, slash);
    std::size_t colon = std::string_view::npos;
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close != std::string_view::npos) {
            entry.host = std::string(text.substr(1, close - 1));
            if (close + 1 < text.size() && text[close + 1] == ':') colon = close + 1;
        } else {
            entry.host = std::string(text);
        }
    } else {
        colon = text.rfind(':');
        entry.host = std::string(text.substr(0, colon));
    }
    if (colon != std::string_view::npos) {
        const std::string_view digits = text.substr(colon + 1);
        if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string_view::npos) {
            entry.port = leadingPort(digits);
        }
    }
    return entry;
}

std::vector<std::string_view> listEntries(std::string_view list, char separator) {
    std::vector<std::string_view> entries;
    while (!list.empty()) {
        const std::size_t end = list.find(separator);
        const std::string_view entry = trimBlanks(list.substr(0, end));
        if (!entry.empty()) entries.push_back(entry);
        if (end == std::string_view::npos) break;
        list.remove_prefix(end + 1);
    }
    return entries;
}

// Whether an entry's scheme name serves the connection's scheme.
bool servesScheme(std::string_view named, std::string_view scheme) {
    if (equalsNoCase(named, scheme)) return true;
    if (equalsNoCase(scheme, "ws")) return equalsNoCase(named, "http");
    if (equalsNoCase(scheme, "wss")) return equalsNoCase(named, "https");
    return false;
}

struct ProxyUrl {
    std::string scheme;   // lower case, empty when the text had none
    std::string address;  // host:port
};

ProxyUrl parseProxyUrl(std::string_view text) {
    ProxyUrl url;
    text = trimBlanks(text);
    if (const std::size_t mark = text.find("://"); mark != std::string_view::npos) {
        for (const char c : text.substr(0, mark)) url.scheme += lowerAscii(c);
        text.remove_prefix(mark + 3);
    }
    // user:password@ is the proxy's business, not the address.
    const std::size_t slash = text.find('/');
    const std::size_t at = text.substr(0, slash).rfind('@');
    if (at != std::string_view::npos) text.remove_prefix(at + 1);
    url.address = std::string(text.substr(0, text.find('/')));
    return url;
}

bool isSocksScheme(std::string_view scheme) { return scheme.starts_with("socks"); }

}  // namespace

SystemProxy systemProxyFromHive(const com::registry::Hive& hive) {
    SystemProxy proxy;
    if (!hive.keyExists(kInternetSettingsKey)) return proxy;
    proxy.found = true;
    if (const auto enable = hive.queryValue(kInternetSettingsKey, "ProxyEnable")) {
        // Written as a number by the system; a string holding one is read too.
        proxy.proxyEnable = enable->type == com::registry::Value::Type::dword
                                ? enable->number
                                : static_cast<std::uint32_t>(leadingPort(enable->text) != 0);
    }
    if (auto server = hive.queryString(kInternetSettingsKey, "ProxyServer")) {
        if (server->size() > kMaxProxyServerLength) server->resize(kMaxProxyServerLength);
        proxy.proxyServer = std::move(*server);
    }
    if (auto bypass = hive.queryString(kInternetSettingsKey, "ProxyOverride")) proxy.proxyOverride = std::move(*bypass);
    return proxy;
}

SystemProxy proxyFromEnvironment(const EnvironmentLookup& lookup) {
    const auto variable = [&](std::string_view lower) -> std::optional<std::string> {
        if (auto value = lookup(lower); value && !trimBlanks(*value).empty()) return value;
        std::string upper;
        for (const char c : lower) upper += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        if (auto value = lookup(upper); value && !trimBlanks(*value).empty()) return value;
        return std::nullopt;
    };

    SystemProxy proxy;
    std::vector<std::string> entries;
    bool haveSocks = false;
    const auto add = [&](std::string_view prefix, const std::string& text) {
        const ProxyUrl url = parseProxyUrl(text);
        if (url.address.empty()) return;
        if (isSocksScheme(url.scheme)) {
            // One SOCKS passage serves every scheme; the first one named is it.
            if (haveSocks) return;
            haveSocks = true;
            proxy.socks4 = url.scheme.starts_with("socks4");
            proxy.socksResolvesNames = url.scheme == "socks5h" || url.scheme == "socks4a";
            entries.push_back("socks=" + url.address);
            return;
        }
        entries.push_back(std::string(prefix) + url.address);
    };
    if (auto value = variable("https_proxy")) add("https=", *value);
    if (auto value = variable("http_proxy")) add("http=", *value);
    if (auto value = variable("all_proxy")) add("", *value);

    if (auto value = variable("no_proxy")) {
        std::string bypass;
        const auto append = [&bypass](std::string_view entry) {
            if (!bypass.empty()) bypass += ';';
            bypass += entry;
        };
        for (const std::string_view entry : listEntries(*value, ',')) {
            if (entry == "*") {
                append("*");
            } else if (entry.starts_with('.')) {
                append("*" + std::string(entry));
            } else {
                // A domain name covers its subdomains, as every other reader
                // of this variable takes it.
                append(entry);
                if (entry.find_first_not_of("0123456789.:[]") != std::string_view::npos) {
                    append("*." + std::string(entry));
                }
            }
        }
        proxy.proxyOverride = std::move(bypass);
    }

    for (const std::string& entry : entries) {
        if (!proxy.proxyServer.empty()) proxy.proxyServer += ';';
        proxy.proxyServer += entry;
    }
    proxy.found = !entries.empty() || !proxy.proxyOverride.empty();
    proxy.proxyEnable = entries.empty() ? 0 : 1;
    return proxy;
}

SystemProxy readSystemProxy() {
    com::registry::Hive hive;
    // A key reported missing is looked for once more: the file may have been
    // in the middle of being rewritten.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (SUCCEEDED(com::registry::loadHive(com::registry::Scope::user, hive)) &&
            hive.keyExists(kInternetSettingsKey)) {
            return systemProxyFromHive(hive);
        }
    }
    return proxyFromEnvironment([](std::string_view name) -> std::optional<std::string> {
        const char* value = std::getenv(std::string(name).c_str());
        if (value == nullptr) return std::nullopt;
        return std::string(value);
    });
}

std::optional<SocksEntry> socksEntry(std::string_view proxyServer) {
    const std::size_t mark = proxyServer.find("socks=");
    if (mark == std::string_view::npos) return std::nullopt;
    std::string_view rest = proxyServer.substr(mark + 6);
    rest = rest.substr(0, rest.find(';'));
    SocksEntry entry;
    const std::size_t colon = rest.find(':');
    entry.host = std::string(trimBlanks(rest.substr(0, colon)));
    if (colon != std::string_view::npos) entry.port = leadingPort(rest.substr(colon + 1));
    return entry;
}

std::optional<HttpProxyEntry> httpProxyEntry(std::string_view proxyServer, std::string_view scheme) {
    for (const std::string_view entry : listEntries(proxyServer, ';')) {
        const std::size_t url = entry.find("://");
        const std::size_t equals = entry.find('=');
        std::string_view named;
        std::string_view address = entry;
        if (url != std::string_view::npos && (equals == std::string_view::npos || url < equals)) {
            named = trimBlanks(entry.substr(0, url));
            address = entry.substr(url + 3);
        } else if (equals != std::string_view::npos) {
            named = trimBlanks(entry.substr(0, equals));
            address = entry.substr(equals + 1);
        }
        if (!named.empty() && !servesScheme(named, scheme)) continue;
        HttpProxyEntry found = splitHostPort(address);
        if (found.host.empty()) continue;
        return found;
    }
    return std::nullopt;
}

}  // namespace morvane
