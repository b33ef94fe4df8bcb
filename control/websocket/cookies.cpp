#include "control/websocket/cookies.h"

#include <algorithm>

#include "control/engine/ascii.h"

namespace morvane::websocket {

Cookie parseSetCookie(std::string_view headerValue) {
    Cookie cookie;
    const auto equals = headerValue.find('=');
    cookie.name = std::string(trimBlanks(headerValue.substr(0, equals)));
    if (equals == std::string_view::npos) return cookie;
    std::string_view rest = headerValue.substr(equals + 1);
    const auto semicolon = rest.find(';');
    cookie.value = std::string(trimBlanks(rest.substr(0, semicolon)));
    rest = semicolon == std::string_view::npos ? std::string_view() : rest.substr(semicolon + 1);
    while (!rest.empty()) {
        const auto next = rest.find(';');
        const std::string_view attribute = trimBlanks(rest.substr(0, next));
        rest = next == std::string_view::npos ? std::string_view() : rest.substr(next + 1);
        const auto sign = attribute.find('=');
        const std::string_view name = trimBlanks(attribute.substr(0, sign));
        const std::string_view value =
            sign == std::string_view::npos ? std::string_view() : trimBlanks(attribute.substr(sign + 1));
        if (equalsNoCase(name, "EXPIRES")) {
            cookie.expiration = std::string(value);
        } else if (equalsNoCase(name, "DOMAIN")) {
            cookie.domain = std::string(value);
        } else if (equalsNoCase(name, "PATH")) {
            cookie.path = std::string(value);
        } else if (equalsNoCase(name, "SECURE")) {
            cookie.secure = true;
        }
    }
    return cookie;
}

void CookieStore::keepOnlyAdded() {
    std::erase_if(records_, [](const Cookie& c) { return !c.added; });
}

std::string CookieStore::requestHeader() const {
    std::string header;
    for (const auto& c : records_) {
        if (!header.empty()) header.append("; ");
        header.append(c.name).append("=").append(c.value);
    }
    return header;
}

}  // namespace morvane::websocket
