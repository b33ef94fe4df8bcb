#include "control/websocket/utf8.h"

#include <gtest/gtest.h>

namespace morvane::websocket {
namespace {

TEST(Utf8, WellFormedTextPassesAndEveryKindOfMalformedTextFails) {
    struct Case {
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"", true},
        {"plain ascii longer than one machine word", true},
        {std::string("nul\0inside", 10), true},
        {"\xC3\xA9", true},           // é
        {"\xE2\x82\xAC", true},       // €
        {"\xF0\x9F\x98\x80", true},   // U+1F600
        {"\xF4\x8F\xBF\xBF", true},   // U+10FFFF
        {"\xC0\xAF", false},          // overlong /
        {"\xE0\x80\xAF", false},      // overlong
        {"\xF0\x80\x80\xAF", false},  // overlong
        {"\xED\xA0\x80", false},      // surrogate
        {"\xF4\x90\x80\x80", false},  // above U+10FFFF
        {"\xF5\x80\x80\x80", false},
        {"\x80", false},          // lone continuation
        {"abcdefgh\xC3", false},  // truncated after a whole word
        {"\xE2\x82", false},
        {"\xE2\x28\xA1", false},  // bad continuation
        {"\xFF", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isValidUtf8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
        // Byte by byte, the same verdict: a character split between pieces
        // is whole once its last byte comes.
        Utf8Validator pieces;
        for (const char b : c.bytes) pieces.feed({reinterpret_cast<const std::uint8_t*>(&b), 1});
        EXPECT_EQ(pieces.complete(), c.valid) << testing::PrintToString(c.bytes);
    }
}

TEST(Utf8, TheValidatorStopsAtTheFirstByteNoTextCouldContinueWith) {
    struct Case {
        std::string bytes;
        std::size_t firstBad;  // npos: none
    };
    const Case cases[] = {
        {std::string(40, 'a') + "\xC3\xA9" + std::string(40, 'b'), std::string::npos},
        {std::string(40, 'a') + "\xFF" + std::string(40, 'b'), 40},
        {"\xCE\xBA\xE1\xBD\xB9\xCF\x83\xCE\xBC\xCE\xB5\xED\xA0\x80"
         "edited",
         12},
        {"\xF4\x90", 1},
        {"\xE2\x82", std::string::npos},  // unfinished, not wrong
    };
    for (const auto& c : cases) {
        Utf8Validator validator;
        std::size_t bad = std::string::npos;
        for (std::size_t i = 0; i < c.bytes.size() && bad == std::string::npos; ++i) {
            if (!validator.feed({reinterpret_cast<const std::uint8_t*>(c.bytes.data()) + i, 1})) bad = i;
        }
        EXPECT_EQ(bad, c.firstBad) << testing::PrintToString(c.bytes);
    }
}

TEST(Utf8, PrefixNeverEndsInsideACharacter) {
    EXPECT_EQ(utf8PrefixLength("abc", 10), 3u);
    EXPECT_EQ(utf8PrefixLength("ab\xE2\x82\xAC", 4), 2u);
    EXPECT_EQ(utf8PrefixLength("ab\xE2\x82\xAC", 5), 5u);
    EXPECT_EQ(utf8PrefixLength("\xC3\xA9\xC3\xA9", 3), 2u);
}

}  // namespace
}  // namespace morvane::websocket
