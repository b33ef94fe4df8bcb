#include "control/transport/proxy_passage.h"

#include <string>
#include <vector>

#include "control/engine/ascii.h"
#include "control/transport/http_authenticator.h"

namespace morvane {
namespace {

bool entryMatches(std::string_view entry, const PassageRequest& request) {
    if (entry.find_first_not_of("0123456789") == std::string_view::npos) {
        return entry.size() <= 5 && std::stoi(std::string(entry)) == request.port;
    }
    if (equalsNoCase(entry, "<local>")) {
        return !request.host.empty() && request.host.find('.') == std::string_view::npos &&
               request.host.find(':') == std::string_view::npos;
    }
    const std::string host(request.host);
    const std::string withPort = host + ":" + std::to_string(request.port);
    if (wildcardMatches(entry, host) || wildcardMatches(entry, withPort)) return true;
    std::vector<std::string_view> schemes;
    if (!request.scheme.empty()) schemes.push_back(request.scheme);
    if (equalsNoCase(request.scheme, "ws")) schemes.push_back("http");
    if (equalsNoCase(request.scheme, "wss")) schemes.push_back("https");
    for (const std::string_view scheme : schemes) {
        const std::string prefix = std::string(scheme) + "://";
        if (wildcardMatches(entry, prefix + host) || wildcardMatches(entry, prefix + withPort)) return true;
    }
    return false;
}

int tunnelKind(int proxyAuthScheme) {
    switch (proxyAuthScheme) {
        case authscheme::basic:
        case authscheme::none: return firewall_kind::tunnel;
        case authscheme::digest: return firewall_kind::tunnelDigest;
        case authscheme::ntlm: return firewall_kind::tunnelNtlm;
        case authscheme::negotiate: return firewall_kind::tunnelNegotiate;
        default: return firewall_kind::none;
    }
}

}  // namespace

bool wildcardMatches(std::string_view pattern, std::string_view text) {
    // Greedy matching with one back-up point: the last "*" seen.
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t star = std::string_view::npos;
    std::size_t resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && lowerAscii(pattern[p]) == lowerAscii(text[t])) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

bool bypassListMatches(std::string_view list, const PassageRequest& request) {
    while (!list.empty()) {
        const std::size_t end = list.find(';');
        const std::string_view entry = trimBlanks(list.substr(0, end));
        if (!entry.empty() && entryMatches(entry, request)) return true;
        if (end == std::string_view::npos) break;
        list.remove_prefix(end + 1);
    }
    return false;
}

Passage planPassage(const ProxySettings& settings, const PassageRequest& request, const SystemProxy* system) {
    Passage passage;
    passage.secureChannel = request.secure;
    if (settings.firewallType != firewall_kind::none) {
        passage.road = ProxyRoad::firewall;
        passage.kind = settings.firewallType;
        passage.host = settings.firewallHost;
        passage.port = settings.firewallPort;
        passage.user = settings.firewallUser;
        passage.password = settings.firewallPassword;
        passage.proxyResolvesNames = settings.firewallResolvesNames;
    } else if (!settings.proxyServer.empty()) {
        passage.host = settings.proxyServer;
        passage.port = settings.proxyPort;
        passage.user = settings.proxyUser;
        passage.password = settings.proxyPassword;
        const bool tunnel =
            settings.proxySsl == proxy_ssl::tunnel || (settings.proxySsl == proxy_ssl::automatic && request.secure);
        if (tunnel) {
            passage.road = ProxyRoad::firewall;
            passage.kind = tunnelKind(settings.proxyAuthScheme);
            if (passage.kind == firewall_kind::none) {
                passage.code = errc::unknownProxyScheme;
                passage.text = std::string(kUnknownProxySchemeText);
            }
        } else {
            passage.road = ProxyRoad::httpProxy;
            passage.secureChannel = settings.proxySsl == proxy_ssl::always;
        }
    } else {
        return passage;
    }

    const bool bypass = bypassListMatches(settings.proxyExceptionsList, request) ||
                        (system != nullptr && bypassListMatches(system->proxyOverride, request));
    if (bypass) {
        Passage direct;
        direct.secureChannel = request.secure;
        return direct;
    }
    return passage;
}

}  // namespace morvane
