// What a request to the shot feed asks for, read from its target (path and
// query) and its Host and Origin headers. No I/O and no Qt: the HTTP library
// cuts the request apart; this decides what its pieces mean, and is fuzzed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace taltrix::feed {

enum class Route { status, shots, live, overlay };

struct FeedTarget {
    Route route = Route::status;
    // /api/shots: how many of the newest, and from when (the text as given,
    // read by the history's date reader).
    int limit = 50;
    std::optional<std::string> since;
    // /overlay?units=metric: speeds in km/h.
    bool metric = false;
};

// A request the feed answers with an error.
struct Refusal {
    int status = 400;
    std::string message;
};

inline constexpr int shotsLimitMax = 1000;

// Reads a request target in origin form ("/api/shots?limit=5"). Unknown
// query parameters are left alone; a known one given twice, or a value it
// cannot take, is refused (400), and so is a path the feed does not serve
// (404).
std::variant<FeedTarget, Refusal> readTarget(std::string_view target);

// Whether a Host header value names the feed itself on `port`: 127.0.0.1,
// localhost or [::1], any letter case. A page served from another name
// that resolves here (DNS rebinding) names another host.
bool isOwnHost(std::string_view host, std::uint16_t port);

// Whether an Origin header value is the feed's own origin: http:// and a
// host isOwnHost takes.
bool isOwnOrigin(std::string_view origin, std::uint16_t port);

// %XX and "+" of a query component decoded; nothing when an escape is broken.
std::optional<std::string> percentDecoded(std::string_view text);

}  // namespace taltrix::feed
