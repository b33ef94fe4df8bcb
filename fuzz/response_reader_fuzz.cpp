// Server answers to the upgrade request: read whole and in small pieces (the
// two must agree), then run the 101 check, cookie parsing and inflation on
// whatever came out.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "control/websocket/cookies.h"
#include "control/websocket/inflate_body.h"
#include "control/websocket/response_reader.h"
#include "control/websocket/upgrade_check.h"

using namespace morvane::websocket;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t piece = (data[0] % 7) + 1;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

    ResponseLimits limits;
    limits.maxLineLength = 512;
    limits.maxHeaderCount = 20;
    limits.maxHeaderBytes = 4096;
    limits.maxBodySize = 4096;

    ResponseReader whole(limits);
    const std::size_t wholeUsed = whole.feed(input);
    ResponseReader pieces(limits);
    std::size_t piecesUsed = 0;
    while (piecesUsed < input.size()) {
        const std::size_t n = std::min(piece, input.size() - piecesUsed);
        const std::size_t used = pieces.feed(input.substr(piecesUsed, n));
        piecesUsed += used;
        if (used < n) break;
    }
    // Where a failure is noticed inside the failing piece does not matter.
    if ((!whole.failed() && wholeUsed != piecesUsed) || whole.state() != pieces.state() ||
        whole.errorText() != pieces.errorText() || whole.statusCode() != pieces.statusCode() ||
        whole.body() != pieces.body() || whole.headers().size() != pieces.headers().size() ||
        whole.transferredHeaders() != pieces.transferredHeaders()) {
        std::abort();
    }
    if (whole.body().size() > limits.maxBodySize || whole.headers().size() > limits.maxHeaderCount) std::abort();
    whole.endOfInput();

    std::string subProtocols = "chat, SuperChat";
    checkUpgradeResponse(whole.headers(), "dGhlIHNhbXBsZSBub25jZQ==", subProtocols);
    for (const auto& h : whole.headers()) parseSetCookie(h.value);
    AuthRetries retries;
    judgeStatus(whole.statusCode(), whole.reasonPhrase(), {.hasLocation = !whole.header("Location").empty()}, retries);
    const InflateResult inflated = inflateBody(whole.body(), (data[0] & 0x80) ? "gzip" : "deflate", 1 << 16);
    if (inflated.body.size() > (1 << 16)) std::abort();
    return 0;
}
