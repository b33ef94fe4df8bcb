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
    for (const auto& c : cases) EXPECT_EQ(isValidUtf8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
}

TEST(Utf8, PrefixNeverEndsInsideACharacter) {
    EXPECT_EQ(utf8PrefixLength("abc", 10), 3u);
    EXPECT_EQ(utf8PrefixLength("ab\xE2\x82\xAC", 4), 2u);
    EXPECT_EQ(utf8PrefixLength("ab\xE2\x82\xAC", 5), 5u);
    EXPECT_EQ(utf8PrefixLength("\xC3\xA9\xC3\xA9", 3), 2u);
}

}  // namespace
}  // namespace morvane::websocket
