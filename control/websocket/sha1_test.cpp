#include "control/websocket/sha1.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <string>
#include <vector>

namespace morvane::websocket {
namespace {

std::string hex(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (const std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string sha1Hex(std::string_view text) {
    return hex(sha1({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}));
}

TEST(Sha1, PublishedVectors) {
    EXPECT_EQ(sha1Hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(sha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(sha1Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(sha1Hex(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

// Every length across the padding's edges (55, 56, 63, 64, ...) against the
// crypto library's own.
TEST(Sha1, AgreesWithTheCryptoLibraryAtEveryLength) {
    std::vector<std::uint8_t> data(300);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 131 + 7);
    for (std::size_t n = 0; n <= data.size(); ++n) {
        std::uint8_t expected[SHA_DIGEST_LENGTH];
        SHA1(data.data(), n, expected);
        EXPECT_EQ(hex(sha1({data.data(), n})), hex(expected)) << "length " << n;
    }
}

}  // namespace
}  // namespace morvane::websocket
