#include "control/websocket/inflate_body.h"

#include <zlib.h>

#include <array>
#include <optional>

#include "control/engine/ascii.h"
#include "control/websocket/response_reader.h"

namespace morvane::websocket {
namespace {

constexpr std::string_view kCannotDecode = "HTTP protocol error. Content could not be decoded.";
constexpr std::string_view kTooLargeText = "HTTP protocol error. Decoded content too large.";

enum class Outcome { kOk, kCorrupt, kTooLarge };

Outcome inflateWith(std::string_view in, int windowBits, std::size_t maxSize, std::string& out) {
    z_stream stream{};
    if (inflateInit2(&stream, windowBits) != Z_OK) return Outcome::kCorrupt;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    stream.avail_in = static_cast<uInt>(in.size());
    std::array<char, 16384> chunk{};
    Outcome outcome = Outcome::kCorrupt;
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk.data());
        stream.avail_out = static_cast<uInt>(chunk.size());
        const int status = inflate(&stream, Z_NO_FLUSH);
        const std::size_t produced = chunk.size() - stream.avail_out;
        if (produced > maxSize - out.size()) {
            outcome = Outcome::kTooLarge;
            break;
        }
        out.append(chunk.data(), produced);
        if (status == Z_STREAM_END) {
            outcome = Outcome::kOk;
            break;
        }
        // Z_BUF_ERROR with no output means the input ended before the stream did.
        if (status != Z_OK || (produced == 0 && stream.avail_in == 0)) break;
    }
    inflateEnd(&stream);
    return outcome;
}

}  // namespace

InflateResult inflateBody(std::string_view body, std::string_view contentEncoding, std::size_t maxSize) {
    InflateResult result;
    int windowBits;
    if (equalsNoCase(contentEncoding, "gzip") || equalsNoCase(contentEncoding, "x-gzip")) {
        windowBits = 16 + MAX_WBITS;
    } else if (equalsNoCase(contentEncoding, "deflate")) {
        windowBits = MAX_WBITS;
    } else {
        result.body = std::string(body);
        return result;
    }
    if (body.size() > static_cast<std::size_t>(static_cast<uInt>(-1))) {
        result.code = errc::httpProtocol;
        result.text = std::string(kTooLargeText);
        return result;
    }
    Outcome outcome = inflateWith(body, windowBits, maxSize, result.body);
    if (outcome == Outcome::kCorrupt && windowBits == MAX_WBITS) {
        // "deflate" without the zlib wrapper is common enough to accept.
        result.body.clear();
        outcome = inflateWith(body, -MAX_WBITS, maxSize, result.body);
    }
    if (outcome != Outcome::kOk) {
        result.code = errc::httpProtocol;
        result.text = std::string(outcome == Outcome::kTooLarge ? kTooLargeText : kCannotDecode);
        result.body.clear();
    }
    return result;
}

}  // namespace morvane::websocket
