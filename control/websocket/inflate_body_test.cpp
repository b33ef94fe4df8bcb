#include "control/websocket/inflate_body.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace morvane::websocket {
namespace {

std::string compress(std::string_view plain, int windowBits) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, plain.size()) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
    stream.avail_in = static_cast<uInt>(plain.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

TEST(InflateBody, GzipZlibAndRawDeflateDecode) {
    const std::string plain = "a body that compresses, a body that compresses, a body that compresses";
    struct Case {
        const char* encoding;
        int windowBits;
    };
    for (const Case& c : {Case{"gzip", 16 + MAX_WBITS}, Case{"x-gzip", 16 + MAX_WBITS}, Case{"deflate", MAX_WBITS},
                          Case{"Deflate", -MAX_WBITS}}) {
        const InflateResult result = inflateBody(compress(plain, c.windowBits), c.encoding);
        EXPECT_EQ(result.code, 0) << c.encoding;
        EXPECT_EQ(result.body, plain) << c.encoding;
    }
    EXPECT_EQ(inflateBody("as is", "identity").body, "as is");
}

TEST(InflateBody, AZipBombStopsAtTheLimit) {
    const std::string bomb = compress(std::string(50 << 20, '\0'), 16 + MAX_WBITS);
    ASSERT_LT(bomb.size(), 100'000u);
    const InflateResult result = inflateBody(bomb, "gzip", 1 << 20);
    EXPECT_EQ(result.code, 151);
    EXPECT_EQ(result.text, "HTTP protocol error. Decoded content too large.");
    EXPECT_TRUE(result.body.empty());
}

TEST(InflateBody, CorruptOrTruncatedInputFails) {
    const std::string good = compress("hello hello hello", 16 + MAX_WBITS);
    for (const std::string& bad : {std::string("not compressed"), good.substr(0, good.size() / 2), std::string()}) {
        const InflateResult result = inflateBody(bad, "gzip");
        EXPECT_EQ(result.code, 151);
        EXPECT_EQ(result.text, "HTTP protocol error. Content could not be decoded.");
    }
}

}  // namespace
}  // namespace morvane::websocket
