#include "platform/text/code_page.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "platform/text/ascii_blocks.h"

namespace codepage {
namespace {

TEST(CodePage1252, AllBytesRoundTripOneToOne) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    const WideResult wide = multiByteToWide(1252, all, ConversionMode::strict);
    ASSERT_TRUE(wide.ok());
    ASSERT_EQ(wide.text.size(), 256u);
    EXPECT_EQ(wide.text[0x80], u'\u20AC');
    EXPECT_EQ(wide.text[0x9F], u'\u0178');
    for (unsigned undefined : {0x81u, 0x8Du, 0x8Fu, 0x90u, 0x9Du}) EXPECT_EQ(wide.text[undefined], undefined);
    const NarrowResult back = wideToMultiByte(1252, wide.text, ConversionMode::strict);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.text, all);
    EXPECT_FALSE(back.usedDefaultChar);
}

TEST(CodePage1252, UnmappableCharactersBecomeQuestionMarks) {
    const NarrowResult r = wideToMultiByte(1252, u"a\u03A9b\U0001F600c");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.text, "a?b?c");  // the surrogate pair is one character
    EXPECT_TRUE(r.usedDefaultChar);
    const NarrowResult strict = wideToMultiByte(1252, u"a\u03A9", ConversionMode::strict);
    EXPECT_EQ(strict.status, ConversionStatus::invalidInput);
    EXPECT_TRUE(strict.text.empty());
}

TEST(CodePageUtf8, InvalidSequencesBecomeOneReplacementPerMaximalSubpart) {
    EXPECT_EQ(utf8ToUtf16("a\xC0\xAF"
                          "b"),
              u"a\uFFFD\uFFFDb");                                             // overlong lead is never valid
    EXPECT_EQ(utf8ToUtf16("\xE0\x80"), u"\uFFFD\uFFFD");                      // E0 needs A0..BF next
    EXPECT_EQ(utf8ToUtf16("\xF0\x9F\x98"), u"\uFFFD");                        // truncated at the end
    EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");            // encoded surrogate
    EXPECT_EQ(utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // above U+10FFFF
    EXPECT_EQ(utf8ToUtf16("x\xE2\x82"
                          "y"),
              u"x\uFFFDy");
    EXPECT_EQ(utf8ToUtf16("\xF0\x9F\x98\x80"), u"\U0001F600");
    EXPECT_EQ(multiByteToWide(CP_UTF8, "ok\xFF", ConversionMode::strict).status, ConversionStatus::invalidInput);
}

TEST(CodePageUtf8, EncodesPairsAndReplacesLoneSurrogates) {
    EXPECT_EQ(utf16ToUtf8(u"\u00E9\u20AC\U0001F600"), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    const std::u16string lone{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)};
    EXPECT_EQ(utf16ToUtf8(lone),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
    EXPECT_EQ(wideToMultiByte(CP_UTF8, lone, ConversionMode::strict).status, ConversionStatus::invalidInput);
    // Embedded zeros are text like any other.
    EXPECT_EQ(utf16ToUtf8(std::u16string_view(u"a\0b", 3)), std::string("a\0b", 3));
}

TEST(CodePageOthers, DoubleByteCodePagesGoThroughIconv) {
    const NarrowResult sjis = wideToMultiByte(932, u"\u65E5\u672Ca");
    ASSERT_TRUE(sjis.ok());
    EXPECT_EQ(sjis.text,
              "\x93\xFA\x96\x7B"
              "a");
    EXPECT_EQ(multiByteToWide(932, sjis.text).text, u"\u65E5\u672Ca");
    // A lone lead byte at the end is a truncated character.
    EXPECT_EQ(multiByteToWide(932, "a\x93").text, u"a\uFFFD");
    EXPECT_EQ(multiByteToWide(932, "a\x93", ConversionMode::strict).status, ConversionStatus::invalidInput);
    const NarrowResult lossy = wideToMultiByte(936, u"x\u0E01y");  // Thai is not in GBK
    EXPECT_EQ(lossy.text, "x?y");
    EXPECT_TRUE(lossy.usedDefaultChar);
}

TEST(CodePageOthers, SingleByteFamilies) {
    EXPECT_EQ(multiByteToWide(1251, "\xCF\xF0\xE8").text, u"\u041F\u0440\u0438");
    EXPECT_EQ(wideToMultiByte(866, u"\u041F").text, "\x8F");
    EXPECT_EQ(multiByteToWide(1250, "\x81").text, u"\u0081");  // undefined C1 byte kept as in 1252
    EXPECT_EQ(multiByteToWide(1253, "\xAA").text, u"\uFFFD");  // undefined outside C1: replaced
    EXPECT_EQ(multiByteToWide(1253, "\xAA", ConversionMode::strict).status, ConversionStatus::invalidInput);
    EXPECT_EQ(multiByteToWide(20127, "a\x80").text, u"a\uFFFD");
    EXPECT_EQ(multiByteToWide(28591, "\xFF").text, u"\u00FF");
    EXPECT_EQ(wideToMultiByte(28605, u"\u20AC").text, "\xA4");
}

TEST(CodePageOthers, UnknownCodePagesFail) {
    EXPECT_FALSE(isValidCodePage(12345));
    EXPECT_EQ(multiByteToWide(12345, "abc").status, ConversionStatus::unknownCodePage);
    EXPECT_EQ(wideToMultiByte(12345, u"abc").status, ConversionStatus::unknownCodePage);
    EXPECT_TRUE(isValidCodePage(1252));
    EXPECT_TRUE(isValidCodePage(CP_UTF8));
    EXPECT_EQ(iconvName(950).value_or(""), "CP950");
    EXPECT_TRUE(multiByteToWide(1252, "").ok());
}

// Long texts go through block-wise fast paths; whatever the alignment of the
// ASCII runs and the other bytes, they must read exactly as piece by piece.
std::string mixedText(std::mt19937& random, const std::vector<std::string>& pieces, std::size_t count,
                      std::vector<std::size_t>* cuts = nullptr) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += pieces[random() % pieces.size()];
        if (cuts) cuts->push_back(text.size());
    }
    return text;
}

TEST(CodePageFastPaths, LongTextsReadAsTheirPieces) {
    std::mt19937 random(7);
    // 1253 leaves 0xAA, 0xD2 and 0xFF unmapped; 437 and 866 map every byte.
    const std::vector<std::string> singleBytePieces = {
        "a",        "0123456789abcdefghij", std::string(33, 'x'), "\x80", "\xAA",
        "\xD2\xFF", "\x7F\x80\x81",         std::string(1, '\0')};
    for (const unsigned cp : {1252u, 1253u, 437u, 866u}) {
        const std::string text = mixedText(random, singleBytePieces, 400);
        std::u16string expected;
        for (const char byte : text) expected += multiByteToWide(cp, std::string_view(&byte, 1)).text;
        EXPECT_EQ(multiByteToWide(cp, text).text, expected) << cp;
        // At every alignment of the destination (a BSTR's text is 4 bytes in).
        for (std::size_t offset = 0; offset < 8; ++offset) {
            std::u16string direct(text.size() + 8, u'#');
            ASSERT_TRUE(widenOneToOne(cp, text, direct.data() + offset)) << cp;
            EXPECT_EQ(direct.substr(offset, text.size()), expected) << cp << " at " << offset;
            EXPECT_EQ(direct.substr(0, offset), std::u16string(offset, u'#'));
            EXPECT_EQ(direct.substr(offset + text.size()), std::u16string(8 - offset, u'#'));
        }
        EXPECT_EQ(multiByteToWide(cp, text, ConversionMode::strict).ok(),
                  expected.find(u'\uFFFD') == std::u16string::npos);
        // Short texts (a message of a few dozen bytes) take a path of their own.
        for (std::size_t n = 0; n <= 100; ++n) {
            const std::string_view shortText = std::string_view(text).substr(n * 7, n);
            std::u16string shortExpected;
            for (const char byte : shortText) shortExpected += multiByteToWide(cp, std::string_view(&byte, 1)).text;
            EXPECT_EQ(multiByteToWide(cp, shortText).text, shortExpected) << cp << " length " << n;
        }
    }

    const std::vector<std::string> utf8Pieces = {"a",
                                                 "0123456789abcdefghijk",
                                                 std::string(40, 'y'),
                                                 "\xC3\xA9",
                                                 "\xE2\x82\xAC",
                                                 "\xF0\x9F\x98\x80",
                                                 "\xFF",
                                                 "\xE2\x82"};
    std::vector<std::size_t> cuts;
    const std::string text = mixedText(random, utf8Pieces, 400, &cuts);
    std::u16string expected;
    std::size_t from = 0;
    for (const std::size_t cut : cuts) {
        expected += utf8ToUtf16(std::string_view(text).substr(from, cut - from));
        from = cut;
    }
    EXPECT_EQ(utf8ToUtf16(text), expected);
    std::u16string direct(text.size(), u'#');
    EXPECT_FALSE(widenOneToOne(CP_UTF8, text, direct.data()));

    const std::string ascii = mixedText(random, {"a", std::string(21, 'b'), "\x01"}, 300);
    std::u16string wideAscii(ascii.size() + 8, u'#');
    for (std::size_t offset = 0; offset < 8; ++offset) {
        ASSERT_TRUE(widenOneToOne(CP_UTF8, ascii, wideAscii.data() + offset));
        EXPECT_EQ(wideAscii.substr(offset, ascii.size()), utf8ToUtf16(ascii)) << offset;
    }
    // Double-byte code pages always take the general path.
    EXPECT_FALSE(widenOneToOne(932, "abc", wideAscii.data()));
    EXPECT_FALSE(widenOneToOne(12345, "abc", wideAscii.data()));
}

// Long ASCII runs are widened a block at a time, with AVX2 where the
// processor has it: that path must stop at the same block as the portable
// one and write the same units, wherever the first byte of 0x80 or above
// falls and however the output is placed, and write nothing past what it
// reports.
TEST(CodePageFastPaths, WideBlocksMatchThePortableOnes) {
    std::string run(520, 'q');
    for (std::size_t k = 0; k < run.size(); ++k) run[k] = static_cast<char>(0x20 + k % 0x5F);
    for (const std::size_t length : {0u, 63u, 64u, 65u, 128u, 255u, 256u, 520u}) {
        for (const std::size_t stop : {std::string::npos, std::size_t{0}, std::size_t{31}, std::size_t{32},
                                       std::size_t{63}, std::size_t{64}, std::size_t{200}, std::size_t{519}}) {
            std::string text = run.substr(0, length);
            if (stop < length) text[stop] = '\xE9';
            const auto* in = reinterpret_cast<const std::uint8_t*>(text.data());
            const std::size_t whole = stop < length ? stop / 64 * 64 : length / 64 * 64;
            for (std::size_t offset = 0; offset < 4; ++offset) {
                std::u16string wide(length + 8, u'#');
                std::u16string portable(length + 8, u'#');
                const std::size_t done = detail::widenAsciiBlocks(in, text.size(), wide.data() + offset);
                ASSERT_EQ(done, whole) << length << " " << stop << " " << offset;
                EXPECT_EQ(detail::widenAsciiBlocksPortable(in, text.size(), portable.data() + offset), whole);
                EXPECT_EQ(wide, portable) << length << " " << stop << " " << offset;
                EXPECT_EQ(wide.substr(offset, done), std::u16string(run.begin(), run.begin() + done));
                EXPECT_EQ(wide.substr(offset + done), std::u16string(length + 8 - offset - done, u'#'));
            }
        }
    }
}

// The same for the way back: long texts narrowed block-wise must read as
// their characters one at a time.
TEST(CodePageFastPaths, LongTextsNarrowAsTheirCharacters) {
    std::mt19937 random(11);
    const std::vector<std::u16string> pieces = {u"a",
                                                u"0123456789abcdefghij",
                                                std::u16string(40, u'z'),
                                                u"\u00E9",
                                                u"\u20AC",
                                                u"\u03A9",
                                                u"\U0001F600",
                                                u"\xD800",
                                                u"\x7F"};
    for (const unsigned cp : {1252u, 1253u, CP_UTF8}) {
        std::u16string text;
        std::string expected;
        bool defaulted = false;
        for (int i = 0; i < 400; ++i) {
            const std::u16string& piece = pieces[random() % pieces.size()];
            text += piece;
            const NarrowResult one = wideToMultiByte(cp, piece);
            expected += one.text;
            defaulted = defaulted || one.usedDefaultChar;
        }
        const NarrowResult whole = wideToMultiByte(cp, text);
        EXPECT_EQ(whole.text, expected) << cp;
        EXPECT_EQ(whole.usedDefaultChar, defaulted) << cp;
    }
}

// Short ASCII sends are narrowed into the caller's buffer; whatever that
// path takes must come out as the general one writes it, and whatever it
// refuses (other characters, pages that move ASCII) is left to that one.
TEST(CodePageFastPaths, AsciiTextNarrowsIntoTheCallersBufferOrNotAtAll) {
    const std::u16string ascii = u"0123456789abcdefghijklmnopqrstuvwxyz\x01\x7F ~{}";
    struct Case {
        unsigned codePage;
        std::u16string text;
        bool direct;
    };
    std::vector<Case> cases;
    for (const unsigned cp : {0u, 1252u, 1253u, 437u, CP_UTF8}) {
        for (const std::size_t n : {0, 1, 15, 16, 17, 47, 256}) {
            std::u16string text;
            while (text.size() < n) text += ascii;
            text.resize(n);
            cases.push_back({cp, text, true});
            if (n > 0) {
                std::u16string beyond = text;
                beyond[n / 2] = u'\u00E9';
                cases.push_back({cp, beyond, false});
            }
        }
    }
    cases.push_back({CP_UTF8, u"a\u0080", false});
    cases.push_back({932, u"abc", false});  // double-byte pages go the general way
    cases.push_back({12345, u"abc", false});
    for (const Case& c : cases) {
        std::string out(c.text.size() + 1, '#');
        EXPECT_EQ(narrowAsciiText(c.codePage, c.text, out.data()), c.direct) << c.codePage << " " << c.text.size();
        if (!c.direct) continue;
        EXPECT_EQ(out.substr(0, c.text.size()), wideToMultiByte(c.codePage, c.text).text) << c.codePage;
        EXPECT_EQ(out.back(), '#');
    }
}

TEST(CodePageAnsi, DefaultsTo1252AndFollowsTheEnvironment) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process reads the variable anew
    if (std::getenv(kAnsiCodePageVariable) == nullptr) {
        EXPECT_EQ(ansiCodePage(), 1252u);
        EXPECT_EQ(multiByteToWide(CP_ACP, "\x80").text, u"\u20AC");
    }
    setenv(kAnsiCodePageVariable, "65001", 1);
    EXPECT_EXIT(
        std::exit(ansiCodePage() == 65001 && utf8ToUtf16("\xC3\xA9") == multiByteToWide(CP_ACP, "\xC3\xA9").text ? 0
                                                                                                                 : 1),
        testing::ExitedWithCode(0), "");
    setenv(kAnsiCodePageVariable, "not a number", 1);
    EXPECT_EXIT(std::exit(ansiCodePage() == 1252 ? 0 : 1), testing::ExitedWithCode(0), "");
    unsetenv(kAnsiCodePageVariable);
}

}  // namespace
}  // namespace codepage
