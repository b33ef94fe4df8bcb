#include "bridge/feed/feed_request.h"

#include <array>
#include <charconv>
#include <utility>

namespace taltrix::feed {

namespace {

constexpr std::array<std::pair<std::string_view, Route>, 4> paths = {{
    {"/api/status", Route::status},
    {"/api/shots", Route::shots},
    {"/api/live", Route::live},
    {"/overlay", Route::overlay},
}};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::optional<int> limitValue(std::string_view text) {
    int value = 0;
    if (text.empty() || text.size() > 4) return std::nullopt;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 1 || value > shotsLimitMax) {
        return std::nullopt;
    }
    return value;
}

// One parameter of the query, already decoded, applied to the target.
std::optional<Refusal> apply(FeedTarget& target, std::string_view name, std::string value, bool& seenLimit,
                             bool& seenUnits) {
    const auto twice = [&] { return Refusal{400, "the parameter " + std::string(name) + " is given twice"}; };
    if (target.route == Route::shots && name == "limit") {
        if (std::exchange(seenLimit, true)) return twice();
        const std::optional<int> limit = limitValue(value);
        if (!limit) return Refusal{400, "limit takes a whole number from 1 to 1000"};
        target.limit = *limit;
    } else if (target.route == Route::shots && name == "since") {
        if (target.since) return twice();
        if (value.empty()) return Refusal{400, "since takes YYYY-MM-DD or YYYY-MM-DDTHH:MM"};
        target.since = std::move(value);
    } else if (target.route == Route::overlay && name == "units") {
        if (std::exchange(seenUnits, true)) return twice();
        if (value != "metric" && value != "imperial") return Refusal{400, "units takes metric or imperial"};
        target.metric = value == "metric";
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c != '%') {
            out += c;
        } else {
            if (i + 2 >= text.size()) return std::nullopt;
            const int high = hexDigit(text[i + 1]);
            const int low = hexDigit(text[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        }
    }
    return out;
}

std::variant<FeedTarget, Refusal> readTarget(std::string_view target) {
    if (target.empty() || target.front() != '/') return Refusal{400, "the request target must be a path"};
    if (target.find('#') != std::string_view::npos) return Refusal{400, "the request target holds a fragment"};
    const std::size_t mark = target.find('?');
    const std::string_view path = target.substr(0, mark);
    FeedTarget result;
    bool known = false;
    for (const auto& [name, route] : paths) {
        if (path == name) {
            result.route = route;
            known = true;
        }
    }
    if (!known) return Refusal{404, "no such resource: " + std::string(path)};
    if (mark == std::string_view::npos) return result;

    std::string_view query = target.substr(mark + 1);
    bool seenLimit = false;
    bool seenUnits = false;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
        if (pair.empty()) continue;
        const std::size_t equals = pair.find('=');
        const std::optional<std::string> name = percentDecoded(pair.substr(0, equals));
        const std::optional<std::string> value =
            percentDecoded(equals == std::string_view::npos ? std::string_view{} : pair.substr(equals + 1));
        if (!name || !value) return Refusal{400, "the query holds a broken %-escape"};
        if (auto refusal = apply(result, *name, *value, seenLimit, seenUnits)) return *refusal;
    }
    return result;
}

bool isOwnHost(std::string_view host, std::uint16_t port) {
    // Without a port, the name means port 80.
    std::string_view name = host;
    std::uint16_t named = 80;
    const std::size_t colon = host.rfind(':');
    if (colon != std::string_view::npos && !host.ends_with(']')) {
        name = host.substr(0, colon);
        const std::string_view digits = host.substr(colon + 1);
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), named);
        if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) return false;
    }
    return named == port && (name == "127.0.0.1" || name == "[::1]" || equalsIgnoringCase(name, "localhost"));
}

bool isOwnOrigin(std::string_view origin, std::uint16_t port) {
    constexpr std::string_view scheme = "http://";
    return origin.size() > scheme.size() && equalsIgnoringCase(origin.substr(0, scheme.size()), scheme) &&
           isOwnHost(origin.substr(scheme.size()), port);
}

}  // namespace taltrix::feed
