// Decoding of response bodies sent with Content-Encoding gzip or deflate
// (asked for only when AllowHTTPCompression is on). Bounded: a body that
// inflates past the limit is an error, never a memory blow-up.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace morvane::websocket {

inline constexpr std::size_t kDefaultMaxInflatedSize = 16 * 1024 * 1024;

struct InflateResult {
    int code = 0;  // 0, or the HTTP protocol error
    std::string text;
    std::string body;
};

// `contentEncoding` is the header's value: "gzip" (or "x-gzip"), "deflate"
// (zlib-wrapped, or the raw deflate some servers send), or anything else,
// which leaves the body as it is.
InflateResult inflateBody(std::string_view body, std::string_view contentEncoding,
                          std::size_t maxSize = kDefaultMaxInflatedSize);

}  // namespace morvane::websocket
