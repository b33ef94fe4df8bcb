// Choosing the road of one connection from the firewall and proxy settings,
// and the bypass lists that send a host straight past them. No I/O: the
// system's values come in as read.
//
// Bypass entries are separated by ";" and trimmed of blanks. An entry
//   - made of digits only matches the remote port;
//   - "<local>" matches a host name without a dot;
//   - otherwise is a pattern for the host, compared without regard to ASCII
//     case, in which "*" stands for any run of characters (also none):
//     "*.example.com" matches every name below example.com, "10.1.*" a
//     range of addresses. It is tried against the host, "host:port", and the
//     scheme-prefixed forms "scheme://host" and "scheme://host:port" (the
//     connection's scheme, and the web sockets' HTTP counterpart: http for
//     ws, https for wss). An entry that names a scheme therefore matches
//     only that scheme.
#pragma once

#include <string_view>

#include "control/engine/engine_errors.h"
#include "control/transport/proxy_settings.h"
#include "control/transport/system_proxy.h"

namespace morvane {

inline constexpr std::string_view kUnknownProxySchemeText = "Unknown proxy authentication scheme.";

struct PassageRequest {
    std::string_view scheme;
    bool secure = false;
    std::string_view host;
    int port = 0;
};

// Whether `pattern` ("*" for any run) matches `text`, ASCII case aside.
bool wildcardMatches(std::string_view pattern, std::string_view text);

// Whether one entry of `list` matches the connection.
bool bypassListMatches(std::string_view list, const PassageRequest& request);

// The road for a connection. An explicit FirewallType wins; else a
// ProxyServer gives a tunnel or an HTTP proxy by ProxySSL, the tunnel's kind
// by ProxyAuthScheme; a host on ProxyExceptionsList, or (with `system`, as
// auto-detection reads it) on the system's bypass list, goes direct.
Passage planPassage(const ProxySettings& settings, const PassageRequest& request, const SystemProxy* system);

}  // namespace morvane
