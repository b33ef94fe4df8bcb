// The upgrade request of the opening handshake, byte for byte.
#pragma once

#include <string>
#include <string_view>

#include "control/websocket/url.h"

namespace morvane::websocket {

inline constexpr std::string_view kWebSocketVersion = "13";

// The values of the request's headers; an empty value is not sent.
struct RequestFields {
    std::string httpVersion = "1.1";
    bool absoluteUri = false;
    bool keepAlive = true;
    // The request goes to an HTTP proxy without a tunnel: the target names
    // the scheme, host and port.
    bool viaHttpProxy = false;
    std::string authorization;
    std::string proxyAuthorization;
    std::string accept;
    bool allowHttpCompression = false;
    std::string acceptEncoding = "gzip, deflate";
    std::string from;
    std::string userAgent;
    std::string ifModifiedSince;
    std::string referer;
    std::string pragma;
    std::string range;         // sent as "Range: bytes=" and the value
    std::string httpCookies;   // raw Cookie text; wins over cookieList
    std::string cookieList;    // the cookie records as "a=1; b=2"
    std::string otherHeaders;  // as normalised by normalizeOtherHeaders
    std::string origin;        // empty sends "null"
    std::string subProtocols;
};

// OtherHeaders with its trailing line breaks replaced by exactly one CR LF
// (and nothing added to an empty value).
std::string normalizeOtherHeaders(std::string_view otherHeaders);

// The request target: the path with query; the whole URL with AbsoluteURI;
// scheme://host[:port]path through an HTTP proxy.
std::string requestTarget(const Url& url, const RequestFields& fields);

// A GET request: the request line, the ordinary headers in their order, then
// `protocolLines` (each ending in CR LF), OtherHeaders and the empty line.
// The caller clears HttpCookies after sending when it was used, since it is
// sent only once.
std::string buildGetRequest(const Url& url, const RequestFields& fields, std::string_view protocolLines);

// The upgrade lines for `key` (see makeWebSocketKey): Upgrade, Connection,
// the key, the version, the offered subprotocols and Origin.
std::string upgradeLines(const RequestFields& fields, std::string_view key);

// The whole upgrade request for `key`.
std::string buildUpgradeRequest(const Url& url, const RequestFields& fields, std::string_view key);

}  // namespace morvane::websocket
