#include "platform/com/bstr.h"

#include <gtest/gtest.h>

#include "platform/com/bstr_text.h"

namespace {

TEST(Bstr, CarriesItsLengthAndEmbeddedZeros) {
    const OLECHAR text[] = {u'a', 0, u'b'};
    BSTR s = SysAllocStringLen(text, 3);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(SysStringByteLen(s), 6u);
    EXPECT_EQ(s[3], 0);  // terminated all the same
    EXPECT_EQ(com::bstrView(s), std::u16string_view(text, 3));
    SysFreeString(s);
}

// Freed strings' blocks serve later ones: whatever a block held before, a
// new string has its own length, its terminator, and zeros when unfilled.
TEST(Bstr, ReusedBlocksStartClean) {
    for (int round = 0; round < 3; ++round) {
        for (const UINT length : {0u, 1u, 10u, 13u, 14u, 29u, 100u, 126u, 127u, 500u}) {
            BSTR dirty = SysAllocStringLen(nullptr, length);
            ASSERT_NE(dirty, nullptr);
            for (UINT i = 0; i < length; ++i) dirty[i] = u'x';
            SysFreeString(dirty);
            for (const UINT other : {length, length + 1, length / 2}) {
                BSTR fresh = SysAllocStringLen(nullptr, other);
                ASSERT_NE(fresh, nullptr);
                EXPECT_EQ(SysStringLen(fresh), other);
                EXPECT_EQ(fresh[other], u'\0');
                EXPECT_EQ(std::u16string_view(fresh, other), std::u16string(other, u'\0')) << length << "/" << other;
                SysFreeString(fresh);
            }
        }
    }
}

TEST(Bstr, NullIsAnEmptyString) {
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    SysFreeString(nullptr);
    EXPECT_TRUE(com::bstrView(nullptr).empty());
    BSTR empty = SysAllocString(u"");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    SysFreeString(empty);
}

TEST(Bstr, ByteLengthStringsKeepOddByteCounts) {
    BSTR s = SysAllocStringByteLen("abc", 3);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringByteLen(s), 3u);
    EXPECT_EQ(SysStringLen(s), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s), 4), std::string("abc\0", 4));
    BSTR blank = SysAllocStringByteLen(nullptr, 4);
    EXPECT_EQ(SysStringLen(blank), 2u);
    EXPECT_EQ(blank[0], 0);
    SysFreeString(s);
    SysFreeString(blank);
}

TEST(Bstr, ReallocationMayReadFromTheOldString) {
    BSTR s = SysAllocString(u"hello world");
    ASSERT_TRUE(SysReAllocString(&s, s + 6));
    EXPECT_EQ(com::bstrView(s), u"world");
    ASSERT_TRUE(SysReAllocStringLen(&s, s, 3));
    EXPECT_EQ(com::bstrView(s), u"wor");
    ASSERT_TRUE(SysReAllocString(&s, nullptr));
    EXPECT_EQ(s, nullptr);
    EXPECT_FALSE(SysReAllocString(nullptr, u"x"));
}

TEST(Bstr, HolderOwnsCopiesAndHandsOut) {
    com::BStr a(u"one");
    com::BStr b = a;  // a copy of its own
    EXPECT_NE(a.get(), b.get());
    EXPECT_EQ(b.view(), u"one");
    com::BStr c = std::move(a);
    EXPECT_EQ(a.get(), nullptr);
    BSTR raw = c.detach();
    EXPECT_EQ(c.get(), nullptr);
    com::BStr d = com::BStr::attach(raw);
    *d.put() = SysAllocString(u"two");  // put() freed the old one first
    EXPECT_EQ(d.view(), u"two");
}

TEST(Bstr, ConvertsThroughCodePages) {
    com::BStr wide = com::BStr::attach(com::bstrFromMultiByte("caf\xE9\x80", 1252));
    EXPECT_EQ(wide.view(), u"caf\u00E9\u20AC");
    EXPECT_EQ(com::multiByteFromBstr(wide.get(), 1252), "caf\xE9\x80");
    EXPECT_EQ(com::multiByteFromBstr(wide.get(), 65001), "caf\xC3\xA9\xE2\x82\xAC");
    com::BStr zero(std::u16string_view(u"ab\0cd", 5));
    EXPECT_EQ(com::multiByteFromBstr(zero.get(), 1252), std::string("ab\0cd", 5));
    EXPECT_EQ(com::multiByteFromBstr(zero.get(), 1252, com::BstrExtent::toFirstZero), "ab");
    EXPECT_EQ(com::bstrFromMultiByte("x", 4242), nullptr);
    com::BStr utf8 = com::BStr::attach(com::bstrFromUtf8("\xF0\x9F\x98\x80"));
    EXPECT_EQ(utf8.length(), 2u);
    EXPECT_EQ(com::utf8FromBstr(utf8.get()), "\xF0\x9F\x98\x80");
}

}  // namespace
