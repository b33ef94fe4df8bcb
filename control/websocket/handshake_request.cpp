#include "control/websocket/handshake_request.h"

namespace morvane::websocket {
namespace {

void header(std::string& out, std::string_view name, std::string_view value) {
    if (value.empty()) return;
    out.append("\r\n").append(name).append(": ").append(value);
}

std::string portSuffix(const Url& url) {
    return url.port != url.defaultPort ? ":" + std::to_string(url.port) : std::string();
}

}  // namespace

std::string normalizeOtherHeaders(std::string_view otherHeaders) {
    std::size_t end = otherHeaders.size();
    while (end > 0 && (otherHeaders[end - 1] == '\r' || otherHeaders[end - 1] == '\n')) --end;
    if (end == 0) return {};
    std::string out(otherHeaders.substr(0, end));
    out.append("\r\n");
    return out;
}

std::string requestTarget(const Url& url, const RequestFields& fields) {
    if (fields.absoluteUri) return url.text;
    if (fields.viaHttpProxy) return url.scheme + "://" + hostForHeader(url) + portSuffix(url) + url.path;
    return url.path;
}

std::string buildGetRequest(const Url& url, const RequestFields& fields, std::string_view protocolLines) {
    const std::string otherHeaders = normalizeOtherHeaders(fields.otherHeaders);
    std::string out;
    out.reserve(384 + protocolLines.size() + otherHeaders.size() + fields.httpCookies.size() +
                fields.cookieList.size());

    out.append("GET ").append(requestTarget(url, fields)).append(" HTTP/").append(fields.httpVersion);
    if (!fields.absoluteUri && !otherHeaders.starts_with("Host:")) {
        header(out, "Host", hostForHeader(url) + portSuffix(url));
    }
    header(out, "Authorization", fields.authorization);
    header(out, "Proxy-Authorization", fields.proxyAuthorization);
    header(out, "Accept", fields.accept);
    if (fields.allowHttpCompression) header(out, "Accept-Encoding", fields.acceptEncoding);
    header(out, "From", fields.from);
    header(out, "User-Agent", fields.userAgent);
    header(out, "If-Modified-Since", fields.ifModifiedSince);
    header(out, "Referer", fields.referer);
    header(out, "Pragma", fields.pragma);
    if (!fields.range.empty()) header(out, "Range", "bytes=" + fields.range);
    header(out, "Cookie", fields.httpCookies.empty() ? fields.cookieList : fields.httpCookies);
    if (!fields.keepAlive) {
        header(out, "Connection", "close");
    } else if (fields.httpVersion == "1.0") {
        header(out, "Connection", "Keep-Alive");
    }
    out.append("\r\n");
    out.append(protocolLines);
    out.append(otherHeaders);
    out.append("\r\n");
    return out;
}

std::string upgradeLines(const RequestFields& fields, std::string_view key) {
    std::string out;
    out.append("Upgrade: websocket\r\n");
    out.append("Connection: Upgrade\r\n");
    out.append("Sec-WebSocket-Key: ").append(key).append("\r\n");
    out.append("Sec-WebSocket-Version: ").append(kWebSocketVersion).append("\r\n");
    if (!fields.subProtocols.empty()) out.append("Sec-WebSocket-Protocol: ").append(fields.subProtocols).append("\r\n");
    out.append("Origin: ").append(fields.origin.empty() ? std::string_view("null") : fields.origin).append("\r\n");
    return out;
}

std::string buildUpgradeRequest(const Url& url, const RequestFields& fields, std::string_view key) {
    return buildGetRequest(url, fields, upgradeLines(fields, key));
}

}  // namespace morvane::websocket
