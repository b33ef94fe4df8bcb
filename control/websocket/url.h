// The URL of a connection: parsing a Connect URL, and a redirect's Location
// against the current URL (relative mode).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "control/engine/engine_errors.h"
#include "control/websocket/redirect_policy.h"

namespace morvane::websocket {

inline constexpr std::string_view kPlainScheme = "ws";
inline constexpr std::string_view kSecureScheme = "wss";
inline constexpr std::uint16_t kPlainPort = 80;
inline constexpr std::uint16_t kSecurePort = 443;

struct Url {
    std::string text;  // the current URL
    std::string scheme;
    std::string host;  // an IPv6 literal without its brackets
    bool ipv6 = false;
    std::uint16_t port = kPlainPort;
    std::uint16_t defaultPort = kPlainPort;
    std::string path = "/";  // path with query
    std::string user;
    std::string password;

    // wss (and https, which a redirect may name) run over TLS.
    bool secure() const;
};

struct UrlOptions {
    bool relative = false;        // a redirect's Location
    bool encodePath = false;      // EncodeURL, or EncodeRedirectLocation in relative mode
    bool encodeQuery = true;      // EncodeQueryString
    bool allowIdentical = false;  // AllowIdenticalRedirectURL
    int maxRedirectAttempts = kDefaultMaxRedirectAttempts;
};

struct UrlChange {
    int code = 0;  // 0, errc::httpProtocol or errc::tooManyRedirects
    std::string_view error;
    bool endpointChanged = false;    // scheme, host or port differ: close the socket
    bool hostOrPortChanged = false;  // outside relative mode only: drop received cookies
    bool credentialsGiven = false;   // the URL carried user information
};

// Parses `text` into `url`, which holds the current URL on entry. The
// redirect allowance is reset by a new URL and used up by a Location. On an
// error `url` is left as it was.
UrlChange parseUrl(std::string_view text, Url& url, const UrlOptions& options, RedirectAllowance& allowance);

// The scheme named by a URL text ("" for a relative reference).
std::string_view schemeOf(std::string_view text);

// Percent-encodes what is not URL-safe: the path part always, the query
// part when `encodeQuery` is set. An existing "%XX" escape is kept.
std::string encodeUrlPath(std::string_view pathWithQuery, bool encodeQuery);

// The host as it appears in a URL or a Host header: IPv6 literals in
// brackets, without any zone suffix.
std::string hostForHeader(const Url& url);

}  // namespace morvane::websocket
