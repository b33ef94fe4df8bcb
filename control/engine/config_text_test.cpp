#include "control/engine/config_text.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string_view>

#include "control/engine/ascii.h"

namespace morvane {
namespace {

struct SplitCase {
    std::string_view text;
    std::string_view name;
    std::optional<std::string_view> value;
};

TEST(ConfigTextTest, SplitsNameAndValue) {
    const SplitCase cases[] = {
        {"MaxFrameSize", "MaxFrameSize", std::nullopt},
        {"  MaxFrameSize ", "MaxFrameSize", std::nullopt},
        {"MaxFrameSize=4096", "MaxFrameSize", "4096"},
        {"MaxFrameSize =   4096  ", "MaxFrameSize", "4096"},
        {"Name=", "Name", ""},
        {"Name=   ", "Name", ""},
        {"=value", "", "value"},
        {"HttpCookies=a=1; b=2", "HttpCookies", "a=1; b=2"},
        {"UserAgent=\"My agent \"", "UserAgent", "My agent "},
        {"UserAgent=\"\"", "UserAgent", ""},
        {"UserAgent=\"", "UserAgent", "\""},
        {"UserAgent=\"open", "UserAgent", "\"open"},
        {"UserAgent=a\"b\"", "UserAgent", "a\"b\""},
        {"OtherHeaders=X: 1\\r\\n", "OtherHeaders", "X: 1\\r\\n"},
        {"Name=\ttab\t", "Name", "\ttab\t"},
    };
    for (const auto& c : cases) {
        const ConfigText split = splitConfigText(c.text);
        EXPECT_EQ(split.name, c.name) << c.text;
        EXPECT_EQ(split.value, c.value) << c.text;
    }
}

TEST(ConfigTextTest, ReadsBooleans) {
    const std::pair<std::string_view, bool> cases[] = {
        {"TRUE", true}, {"true", true},   {"tRuE", true},   {"yes", true}, {"YES", true},
        {"1", true},    {"False", false}, {"no", false},    {"on", false}, {"0", false},
        {"", false},    {"11", false},    {"truex", false}, {"-1", false}, {"y", false},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(configBoolean(text), expected) << text;
}

TEST(ConfigTextTest, ReadsIntegers) {
    constexpr auto largest = std::numeric_limits<std::int64_t>::max();
    constexpr auto smallest = std::numeric_limits<std::int64_t>::min();
    const std::pair<std::string_view, std::int64_t> cases[] = {
        {"4096", 4096},
        {"0x1000", 4096},
        {"0X1000", 4096},
        {"0xfF", 255},
        {"-1", -1},
        {"+7", 7},
        {"-0x10", -16},
        {"007", 7},
        {"12abc", 12},
        {"0x1g", 1},
        {"abc", 0},
        {"0x", 0},
        {"", 0},
        {"-", 0},
        {" 5", 0},
        {"9223372036854775807", largest},
        {"9223372036854775808", largest},
        {"0xFFFFFFFFFFFFFFFFFFFF", largest},
        {"-9223372036854775808", smallest},
        {"-99999999999999999999", smallest},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(configInteger(text), expected) << text;
}

TEST(ConfigTextTest, NarrowsIntegersForThirtyTwoBitSettings) {
    constexpr auto largest = std::numeric_limits<std::int32_t>::max();
    constexpr auto smallest = std::numeric_limits<std::int32_t>::min();
    const std::pair<std::string_view, std::int32_t> cases[] = {
        {"131072", 131072},       {"0x80000000", smallest}, {"0xFFFFFFFF", -1},        {"4294967295", -1},
        {"0x100000000", largest}, {"99999999999", largest}, {"-2147483648", smallest}, {"-2147483649", smallest},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(configInteger32(text), expected) << text;
}

TEST(ConfigTextTest, ComparesNamesWithoutCaseAndEveryByte) {
    EXPECT_TRUE(equalsNoCase("MaxFrameSize", "maxframesize"));
    EXPECT_TRUE(equalsNoCase("SSLCertStore", "sslcertSTORE"));
    EXPECT_FALSE(equalsNoCase("MaxFrameSize", "MaxFrameSiz"));
    EXPECT_FALSE(equalsNoCase("A_", "a\x7f"));
    // Only ASCII letters fold: a byte above 0x7F is compared as it is.
    EXPECT_FALSE(equalsNoCase("\xc4", "\xe4"));
    // Every byte counts, a zero byte too: a field name cannot hide a tail
    // behind one.
    EXPECT_FALSE(equalsNoCase(std::string_view("Location\0x", 10), std::string_view("location\0y", 10)));
    EXPECT_TRUE(equalsNoCase(std::string_view("A\0b", 3), std::string_view("a\0B", 3)));
}

}  // namespace
}  // namespace morvane
