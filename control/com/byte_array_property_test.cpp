#include "control/com/byte_array_property.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/com/safearray.h"

namespace morvane {
namespace {

template <class T>
com::Variant arrayOf(VARTYPE type, const std::vector<T>& values, LONG lowerBound = 0) {
    SAFEARRAY* array = SafeArrayCreateVector(type, lowerBound, static_cast<ULONG>(values.size()));
    for (std::size_t i = 0; i < values.size(); ++i) {
        LONG index = lowerBound + static_cast<LONG>(i);
        T value = values[i];
        SafeArrayPutElement(array, &index, &value);
    }
    return com::Variant::fromArray(type, array);
}

com::Variant variantArray(std::vector<com::Variant> elements) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(elements.size()));
    for (std::size_t i = 0; i < elements.size(); ++i) {
        LONG index = static_cast<LONG>(i);
        SafeArrayPutElement(array, &index, static_cast<VARIANT*>(&elements[i]));
    }
    return com::Variant::fromArray(VT_VARIANT, array);
}

TEST(ByteArrayProperty, OneDimensionalArraysGiveTheirBytes) {
    com::Variant plain = arrayOf<BYTE>(VT_UI1, {0, 'a', 0xFF});
    com::Variant shifted = arrayOf<BYTE>(VT_UI1, {1, 2}, 5);
    com::Variant longs = arrayOf<LONG>(VT_I4, {300, -1, 65});
    com::Variant shorts = arrayOf<SHORT>(VT_I2, {0x141, 7});
    com::Variant variants = variantArray([] {
        std::vector<com::Variant> v;
        v.emplace_back(LONG{300});
        v.emplace_back(SHORT{-2});
        v.emplace_back(std::u16string_view(u"66"));
        v.emplace_back(DOUBLE{3.0});
        return v;
    }());
    com::Variant empty = arrayOf<BYTE>(VT_UI1, {});
    SAFEARRAY* referenced = plain.parray;
    com::Variant byReference = com::Variant::byRef(VT_ARRAY | VT_UI1, &referenced);
    com::Variant throughVariant = com::Variant::byRef(VT_VARIANT, static_cast<VARIANT*>(&shifted));

    const struct {
        const char* what;
        const VARIANT& value;
        std::string expected;
    } cases[] = {
        {"bytes", plain, std::string("\0a\xFF", 3)},
        {"lower bound 5", shifted, "\x01\x02"},
        {"longs", longs, std::string("\x2C\xFF\x41", 3)},
        {"shorts", shorts, "\x41\x07"},
        {"variants", variants, std::string("\x2C\xFE\x42\x03", 4)},
        {"empty", empty, ""},
        {"array by reference", byReference, std::string("\0a\xFF", 3)},
        {"variant by reference", throughVariant, "\x01\x02"},
    };
    for (const auto& c : cases) {
        const auto bytes = bytesFromVariant(c.value);
        ASSERT_TRUE(bytes) << c.what;
        EXPECT_EQ(*bytes, c.expected) << c.what;
    }
}

TEST(ByteArrayProperty, AnythingElseIsRefused) {
    const SAFEARRAYBOUND square[] = {{2, 0}, {2, 0}};
    com::Variant twoDimensions = com::Variant::fromArray(VT_UI1, SafeArrayCreate(VT_UI1, 2, square));
    com::Variant strings = arrayOf<BSTR>(VT_BSTR, {});
    com::Variant doubles = arrayOf<DOUBLE>(VT_R8, {1.0});
    com::Variant wordInVariants = variantArray([] {
        std::vector<com::Variant> v;
        v.emplace_back(std::u16string_view(u"word"));
        return v;
    }());
    com::Variant text(std::u16string_view(u"abc"));
    com::Variant nothing;
    com::Variant nullArray = com::Variant::fromArray(VT_UI1, nullptr);

    const struct {
        const char* what;
        const VARIANT& value;
    } cases[] = {
        {"two dimensions", twoDimensions},
        {"strings", strings},
        {"doubles", doubles},
        {"text in a variant", wordInVariants},
        {"a string", text},
        {"empty", nothing},
        {"null array", nullArray},
    };
    for (const auto& c : cases) EXPECT_FALSE(bytesFromVariant(c.value)) << c.what;
}

TEST(ByteArrayProperty, GetsGiveAZeroBasedByteVector) {
    const std::uint8_t payload[] = {0, 1, 0x80, 0xFF};
    com::Variant out;
    ASSERT_EQ(variantFromBytes(payload, out), S_OK);
    ASSERT_EQ(out.vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(SafeArrayGetDim(out.parray), 1u);
    LONG lower = -1;
    LONG upper = -1;
    SafeArrayGetLBound(out.parray, 1, &lower);
    SafeArrayGetUBound(out.parray, 1, &upper);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, 3);
    EXPECT_EQ(bytesFromVariant(out), std::string("\0\x01\x80\xFF", 4));
    com::Variant none;
    ASSERT_EQ(variantFromBytes({}, none), S_OK);
    EXPECT_EQ(bytesFromVariant(none), "");
}

}  // namespace
}  // namespace morvane
