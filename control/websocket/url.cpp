#include "control/websocket/url.h"

#include <charconv>

#include "control/engine/ascii.h"

namespace morvane::websocket {
namespace {

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// RFC 3986 unreserved characters, the sub-delimiters, ":" and "@" may stand
// in a path as they are; "/" separates its segments; a query may also hold
// "?". Everything else, and every byte above 0x7F, is escaped.
bool urlSafe(unsigned char c, bool inQuery) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
        case '-':
        case '.':
        case '_':
        case '~':
        case '!':
        case '$':
        case '&':
        case '\'':
        case '(':
        case ')':
        case '*':
        case '+':
        case ',':
        case ';':
        case '=':
        case ':':
        case '@':
        case '/': return true;
        case '?': return inQuery;
        default: return false;
    }
}

void appendEncoded(std::string& out, std::string_view text, bool inQuery) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (urlSafe(c, inQuery) || (c == '%' && i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2]))) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
}

// A port is a decimal number from 1 to 65535; anything else reads as 0,
// which the connect step refuses with its own message.
std::uint16_t readPort(std::string_view digits) {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || value > 65535) return 0;
    return static_cast<std::uint16_t>(value);
}

void applySchemePorts(Url& url) {
    if (equalsNoCase(url.scheme, kPlainScheme) || equalsNoCase(url.scheme, "http")) {
        url.port = url.defaultPort = kPlainPort;
    } else if (equalsNoCase(url.scheme, kSecureScheme) || equalsNoCase(url.scheme, "https")) {
        url.port = url.defaultPort = kSecurePort;
    } else {
        url.port = url.defaultPort = 0;
    }
}

// scheme://[user[:password]@]host[:port][/path][?query], the authority part.
void parseAuthority(std::string_view authority, Url& url, UrlChange& change) {
    url.user.clear();
    url.password.clear();
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        const std::string_view userInfo = authority.substr(0, at);
        const auto colon = userInfo.find(':');
        url.user = std::string(userInfo.substr(0, colon));
        if (colon != std::string_view::npos) url.password = std::string(userInfo.substr(colon + 1));
        change.credentialsGiven = true;
        authority.remove_prefix(at + 1);
    }
    std::string_view portText;
    if (!authority.empty() && authority.front() == '[') {
        const auto close = authority.find(']');
        url.ipv6 = true;
        if (close == std::string_view::npos) {
            url.host = std::string(authority.substr(1));
        } else {
            url.host = std::string(authority.substr(1, close - 1));
            const std::string_view rest = authority.substr(close + 1);
            if (!rest.empty() && rest.front() == ':') portText = rest.substr(1);
        }
    } else {
        url.ipv6 = false;
        const auto colon = authority.find(':');
        url.host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos) portText = authority.substr(colon + 1);
    }
    if (!portText.empty()) url.port = readPort(portText);
}

}  // namespace

bool Url::secure() const { return equalsNoCase(scheme, kSecureScheme) || equalsNoCase(scheme, "https"); }

std::string_view schemeOf(std::string_view text) {
    const auto separator = text.find("://");
    if (separator == std::string_view::npos || separator == 0) return {};
    const std::string_view scheme = text.substr(0, separator);
    for (char c : scheme) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
                        c == '-' || c == '.';
        if (!ok) return {};
    }
    return scheme;
}

std::string encodeUrlPath(std::string_view pathWithQuery, bool encodeQuery) {
    std::string out;
    out.reserve(pathWithQuery.size() + 16);
    const auto question = pathWithQuery.find('?');
    appendEncoded(out, pathWithQuery.substr(0, question), false);
    if (question != std::string_view::npos) {
        out.push_back('?');
        const std::string_view query = pathWithQuery.substr(question + 1);
        if (encodeQuery) {
            appendEncoded(out, query, true);
        } else {
            out.append(query);
        }
    }
    return out;
}

std::string hostForHeader(const Url& url) {
    if (!url.ipv6) return url.host;
    return "[" + url.host.substr(0, url.host.find('%')) + "]";
}

UrlChange parseUrl(std::string_view text, Url& url, const UrlOptions& options, RedirectAllowance& allowance) {
    UrlChange change;
    if (text.empty()) {
        url.text.clear();
        url.host.clear();
        url.path.clear();
        url.user.clear();
        url.password.clear();
        url.port = url.defaultPort;
        return change;
    }

    if (options.relative) {
        if (!options.allowIdentical && text == url.text) {
            change.code = errc::httpProtocol;
            change.error = errtext::identicalRedirect;
            return change;
        }
        if (!allowance.take()) {
            change.code = errc::tooManyRedirects;
            change.error = errtext::tooManyRedirects;
            return change;
        }
    } else {
        allowance.reset(options.maxRedirectAttempts);
    }

    const Url before = url;
    Url next = url;
    std::string_view path;
    bool relativePath = false;

    const std::string_view scheme = schemeOf(text);
    if (!scheme.empty()) {
        next.scheme = std::string(scheme);
        applySchemePorts(next);
        std::string_view rest = text.substr(scheme.size() + 3);
        const auto pathStart = rest.find_first_of("/?");
        parseAuthority(rest.substr(0, pathStart), next, change);
        if (pathStart != std::string_view::npos) path = rest.substr(pathStart);
    } else if (text.starts_with("//")) {
        // A network-path reference keeps the scheme.
        if (next.scheme.empty()) next.scheme = std::string(kPlainScheme);
        applySchemePorts(next);
        std::string_view rest = text.substr(2);
        const auto pathStart = rest.find_first_of("/?");
        parseAuthority(rest.substr(0, pathStart), next, change);
        if (pathStart != std::string_view::npos) path = rest.substr(pathStart);
    } else if (text.front() == '/' || (options.relative && text.front() == '?')) {
        path = text;  // a path only: scheme, host and port stay
    } else if (options.relative) {
        path = text;
        relativePath = true;
    } else {
        // host[:port][/path] without a scheme: the plain scheme is meant.
        if (next.scheme.empty()) next.scheme = std::string(kPlainScheme);
        applySchemePorts(next);
        const auto pathStart = text.find_first_of("/?");
        parseAuthority(text.substr(0, pathStart), next, change);
        if (pathStart != std::string_view::npos) path = text.substr(pathStart);
    }

    std::string newPath;
    if (relativePath) {
        if (path.starts_with("./")) path.remove_prefix(2);
        std::string_view base = url.path;
        base = base.substr(0, base.find('?'));
        const auto slash = base.rfind('/');
        newPath = std::string(slash == std::string_view::npos ? std::string_view("/") : base.substr(0, slash + 1));
        newPath.append(path);
    } else if (!path.empty() && path.front() == '?') {
        newPath = "/" + std::string(path);
    } else {
        newPath = std::string(path);
    }
    if (options.encodePath) newPath = encodeUrlPath(newPath, options.encodeQuery);
    if (newPath.empty()) newPath = "/";
    next.path = std::move(newPath);

    if (options.relative) {
        next.text = next.scheme + "://" + hostForHeader(next);
        if (next.port != next.defaultPort) next.text += ":" + std::to_string(next.port);
        next.text += next.path;
    } else {
        next.text = std::string(text);
    }

    const bool hostOrPort = !equalsNoCase(next.host, before.host) || next.port != before.port;
    change.endpointChanged = hostOrPort || !equalsNoCase(next.scheme, before.scheme);
    change.hostOrPortChanged = hostOrPort && !options.relative;
    url = std::move(next);
    return change;
}

}  // namespace morvane::websocket
