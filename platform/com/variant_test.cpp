#include "platform/com/variant.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/com/safearray.h"
#include "platform/com/test_objects.h"

namespace com {
namespace {

Variant changed(const Variant& from, VARTYPE to, HRESULT expected = S_OK, USHORT flags = 0) {
    Variant out;
    EXPECT_EQ(VariantChangeType(&out, &from, flags, to), expected) << "from vt " << from.vt << " to " << to;
    return out;
}

TEST(Variant, ClearFreesWhatItOwnsAndNotWhatItReferences) {
    BSTR owned = SysAllocString(u"text");
    Variant byRef = Variant::byRef(VT_BSTR, &owned);
    EXPECT_EQ(byRef.clear(), S_OK);
    EXPECT_EQ(byRef.vt, VT_EMPTY);
    EXPECT_EQ(com::bstrView(owned), u"text");   // still ours
    Variant holder = Variant::fromBstr(owned);  // now the variant's
    EXPECT_EQ(holder.clear(), S_OK);
    VARIANT bad;
    VariantInit(&bad);
    bad.vt = 0x0FFF;
    EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
}

TEST(Variant, CopiesAreDeepAndReferencesBalance) {
    testing::ValueObject object(Variant(LONG{7}).detach());
    {
        Variant a = Variant::fromDispatch(&object);
        Variant b = a;
        EXPECT_EQ(object.references(), 2u);
        Variant c(u"abc");
        Variant d = c;
        EXPECT_NE(c.bstrVal, d.bstrVal);
        EXPECT_EQ(com::bstrView(d.bstrVal), u"abc");
    }
    EXPECT_EQ(object.references(), 0u);
}

TEST(Variant, CopyIndReadsThroughReferences) {
    LONG number = 41;
    Variant ref = Variant::byRef(VT_I4, &number);
    Variant plain;
    EXPECT_EQ(VariantCopy(&plain, &ref), S_OK);
    EXPECT_EQ(plain.vt, VT_I4 | VT_BYREF);
    EXPECT_EQ(VariantCopyInd(&plain, &ref), S_OK);
    EXPECT_EQ(plain.vt, VT_I4);
    EXPECT_EQ(plain.lVal, 41);
    Variant inner(u"deep");
    Variant refToVariant = Variant::byRef(VT_VARIANT, &inner);
    Variant out;
    EXPECT_EQ(VariantCopyInd(&out, &refToVariant), S_OK);
    EXPECT_EQ(com::bstrView(out.bstrVal), u"deep");
    EXPECT_NE(out.bstrVal, inner.bstrVal);
}

TEST(VariantChangeType, NumbersRoundHalvesToEvenAndCheckRange) {
    EXPECT_EQ(changed(Variant(2.5), VT_I4).lVal, 2);
    EXPECT_EQ(changed(Variant(3.5), VT_I4).lVal, 4);
    EXPECT_EQ(changed(Variant(-2.5), VT_I2).iVal, -2);
    EXPECT_EQ(changed(Variant(LONG{255}), VT_UI1).bVal, 255);
    changed(Variant(LONG{256}), VT_UI1, DISP_E_OVERFLOW);
    changed(Variant(LONG{-1}), VT_UI4, DISP_E_OVERFLOW);
    changed(Variant(SHORT{-1}), VT_UI2, DISP_E_OVERFLOW);
    changed(Variant(2147483647.5), VT_I4, DISP_E_OVERFLOW);
    changed(Variant(NAN), VT_I4, DISP_E_OVERFLOW);
    changed(Variant(1e40), VT_R4, DISP_E_OVERFLOW);
    EXPECT_EQ(changed(Variant(LONGLONG{INT64_MIN}), VT_I8).llVal, INT64_MIN);
    EXPECT_DOUBLE_EQ(changed(Variant(LONG{3}), VT_R8).dblVal, 3.0);
    EXPECT_EQ(changed(Variant(1.23456), VT_CY).cyVal.int64, 12346);
    Variant cy;
    cy.vt = VT_CY;
    cy.cyVal.int64 = 25000;  // 2.5
    EXPECT_EQ(changed(cy, VT_I4).lVal, 2);
    cy.cyVal.int64 = 35000;
    EXPECT_EQ(changed(cy, VT_I4).lVal, 4);
}

TEST(VariantChangeType, BooleansAreMinusOneAndZero) {
    EXPECT_EQ(changed(Variant::fromBool(true), VT_I4).lVal, -1);
    EXPECT_EQ(changed(Variant::fromBool(true), VT_UI1).bVal, 255);
    EXPECT_EQ(changed(Variant(0.0), VT_BOOL).boolVal, VARIANT_FALSE);
    EXPECT_EQ(changed(Variant(LONG{5}), VT_BOOL).boolVal, VARIANT_TRUE);
    EXPECT_EQ(com::bstrView(changed(Variant::fromBool(true), VT_BSTR).bstrVal), u"-1");
    EXPECT_EQ(com::bstrView(changed(Variant::fromBool(false), VT_BSTR, S_OK, VARIANT_ALPHABOOL).bstrVal), u"False");
}

TEST(VariantChangeType, TextParsesLocaleFreeAndFormatsShortest) {
    EXPECT_EQ(changed(Variant(u" 42 "), VT_I4).lVal, 42);
    EXPECT_EQ(changed(Variant(u"-7"), VT_I2).iVal, -7);
    EXPECT_EQ(changed(Variant(u"&H1F"), VT_I4).lVal, 31);
    EXPECT_EQ(changed(Variant(u"&o17"), VT_I4).lVal, 15);
    EXPECT_EQ(changed(Variant(u"2.5"), VT_I4).lVal, 2);
    EXPECT_DOUBLE_EQ(changed(Variant(u"1.5e3"), VT_R8).dblVal, 1500.0);
    changed(Variant(u""), VT_I4, DISP_E_TYPEMISMATCH);
    changed(Variant(u"12abc"), VT_I4, DISP_E_TYPEMISMATCH);
    changed(Variant(u"1,5"), VT_R8, DISP_E_TYPEMISMATCH);
    changed(Variant(u"inf"), VT_R8, DISP_E_TYPEMISMATCH);
    changed(Variant(u"99999999999"), VT_I4, DISP_E_OVERFLOW);
    changed(Variant(u"99999999999999999999999"), VT_I8, DISP_E_OVERFLOW);
    EXPECT_EQ(changed(Variant(u"TRUE"), VT_BOOL).boolVal, VARIANT_TRUE);
    EXPECT_EQ(changed(Variant(u"0"), VT_BOOL).boolVal, VARIANT_FALSE);
    changed(Variant(u"maybe"), VT_BOOL, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(com::bstrView(changed(Variant(LONG{-123}), VT_BSTR).bstrVal), u"-123");
    EXPECT_EQ(com::bstrView(changed(Variant(0.1), VT_BSTR).bstrVal), u"0.1");
    EXPECT_EQ(com::bstrView(changed(Variant(1e20), VT_BSTR).bstrVal), u"1E+20");
    EXPECT_EQ(com::bstrView(changed(Variant(LONGLONG{INT64_MIN}), VT_BSTR).bstrVal), u"-9223372036854775808");
}

TEST(VariantChangeType, EmptyNullErrorAndObjects) {
    EXPECT_EQ(changed(Variant(), VT_I4).lVal, 0);
    EXPECT_EQ(changed(Variant(), VT_BSTR).vt, VT_BSTR);
    Variant null;
    null.vt = VT_NULL;
    changed(null, VT_I4, DISP_E_TYPEMISMATCH);
    changed(Variant::fromError(DISP_E_PARAMNOTFOUND), VT_I4, DISP_E_TYPEMISMATCH);
    changed(Variant(LONG{1}), VT_DISPATCH, DISP_E_TYPEMISMATCH);
    changed(Variant(LONG{1}), 0x0FFF, DISP_E_BADVARTYPE);

    testing::ValueObject object(Variant(u"12").detach());
    {
        Variant holder = Variant::fromDispatch(&object);
        EXPECT_EQ(changed(holder, VT_I4).lVal, 12);  // through the value property
        changed(holder, VT_I4, DISP_E_TYPEMISMATCH, VARIANT_NOVALUEPROP);
        Variant unknown = changed(holder, VT_UNKNOWN);
        EXPECT_EQ(unknown.punkVal, static_cast<IUnknown*>(&object));
    }
    EXPECT_EQ(object.references(), 0u);
}

TEST(VariantChangeType, InPlaceAndByReference) {
    Variant v(u"17");
    EXPECT_EQ(v.changeType(VT_I4), S_OK);  // the old BSTR is freed, once
    EXPECT_EQ(v.lVal, 17);
    EXPECT_EQ(v.changeType(VT_UI1), S_OK);
    Variant keep(u"x");
    EXPECT_EQ(keep.changeType(VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(com::bstrView(keep.bstrVal), u"x");  // untouched on failure
    SHORT target = 300;
    Variant ref = Variant::byRef(VT_I2, &target);
    EXPECT_EQ(changed(ref, VT_BSTR).vt, VT_BSTR);
    EXPECT_EQ(com::bstrView(changed(ref, VT_BSTR).bstrVal), u"300");
}

TEST(VariantChangeType, ArraysOnlyToTheirOwnType) {
    Variant bytes = Variant::fromArray(VT_UI1, SafeArrayCreateVector(VT_UI1, 0, 3));
    Variant same = changed(bytes, VT_ARRAY | VT_UI1);
    EXPECT_NE(same.parray, bytes.parray);
    changed(bytes, VT_BSTR, DISP_E_TYPEMISMATCH);
    changed(bytes, VT_ARRAY | VT_I4, DISP_E_TYPEMISMATCH);
}

}  // namespace
}  // namespace com
