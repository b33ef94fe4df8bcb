// Feeds arbitrary request targets and Host/Origin values to the shot feed's
// request reader, and checks what must hold whatever a client sends: a
// limit inside its range, a refusal with a status and a reason, a decoded
// text never longer than its escapes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "bridge/feed/feed_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace taltrix::feed;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto read = readTarget(bytes);
    if (const auto* target = std::get_if<FeedTarget>(&read)) {
        if (target->limit < 1 || target->limit > shotsLimitMax) std::abort();
        if (target->since && target->since->empty()) std::abort();
        if (target->route != Route::shots && (target->since || target->limit != 50)) std::abort();
    } else {
        const Refusal& refusal = std::get<Refusal>(read);
        if ((refusal.status != 400 && refusal.status != 404) || refusal.message.empty()) std::abort();
    }
    if (const auto decoded = percentDecoded(bytes); decoded && decoded->size() > size) std::abort();
    const std::uint16_t port = size >= 2 ? static_cast<std::uint16_t>(data[0] | data[1] << 8) : 5880;
    if (isOwnOrigin(bytes, port) && !isOwnHost(bytes.substr(7), port)) std::abort();
    (void)isOwnHost(bytes, port);
    return 0;
}
