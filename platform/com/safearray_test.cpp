#include "platform/com/safearray.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/com/test_objects.h"

namespace com {
namespace {

TEST(SafeArray, ByteVectorsHaveBoundsDataAndType) {
    const std::uint8_t bytes[] = {1, 2, 0, 255};
    SafeArrayPtr array(byteArrayFrom(bytes));
    ASSERT_TRUE(array);
    EXPECT_EQ(SafeArrayGetDim(array.get()), 1u);
    EXPECT_EQ(SafeArrayGetElemsize(array.get()), 1u);
    LONG lower = -1;
    LONG upper = -1;
    EXPECT_EQ(SafeArrayGetLBound(array.get(), 1, &lower), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(array.get(), 1, &upper), S_OK);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(upper, 3);
    EXPECT_EQ(SafeArrayGetLBound(array.get(), 2, &lower), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetLBound(array.get(), 0, &lower), DISP_E_BADINDEX);
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(array.get(), &vt), S_OK);
    EXPECT_EQ(vt, VT_UI1);
    SafeArrayAccess access(array.get());
    ASSERT_TRUE(access.ok());
    EXPECT_EQ(std::memcmp(access.data(), bytes, 4), 0);
}

TEST(SafeArray, EmptyVectorIsValid) {
    SafeArrayPtr array(byteArrayFrom({}));
    ASSERT_TRUE(array);
    LONG upper = 0;
    EXPECT_EQ(SafeArrayGetUBound(array.get(), 1, &upper), S_OK);
    EXPECT_EQ(upper, -1);
}

TEST(SafeArray, LockedArraysCannotBeDestroyed) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 1, 2);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
    Variant holder = Variant::fromArray(VT_I4, array);
    EXPECT_EQ(holder.clear(), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
    EXPECT_EQ(SafeArrayUnlock(array), E_UNEXPECTED);
    // The holder still owns it and frees it now.
}

TEST(SafeArray, ElementsAreCopiedInAndOutAndFreedWithTheArray) {
    const SAFEARRAYBOUND bounds[] = {{2, 1}, {3, 0}};  // (1..2, 0..2)
    SafeArrayPtr array(SafeArrayCreate(VT_BSTR, 2, bounds));
    ASSERT_TRUE(array);
    LONG at[] = {2, 1};
    BSTR value = SysAllocString(u"cell");
    EXPECT_EQ(SafeArrayPutElement(array.get(), at, value), S_OK);
    SysFreeString(value);                                            // the array kept a copy
    EXPECT_EQ(SafeArrayPutElement(array.get(), at, nullptr), S_OK);  // replaces (and frees) it
    BSTR text = SysAllocString(u"again");
    EXPECT_EQ(SafeArrayPutElement(array.get(), at, text), S_OK);
    SysFreeString(text);
    BSTR out = nullptr;
    EXPECT_EQ(SafeArrayGetElement(array.get(), at, &out), S_OK);
    EXPECT_EQ(com::bstrView(out), u"again");
    SysFreeString(out);
    // Left-most index varies fastest: (2,1) is cell 1 + 2*1 = 3.
    EXPECT_NE(static_cast<BSTR*>(array.get()->pvData)[3], nullptr);
    LONG outside[] = {3, 0};
    EXPECT_EQ(SafeArrayGetElement(array.get(), outside, &out), DISP_E_BADINDEX);
    LONG upper = 0;
    SafeArrayGetUBound(array.get(), 2, &upper);
    EXPECT_EQ(upper, 2);
}

TEST(SafeArray, VariantAndInterfaceElementsBalanceReferences) {
    testing::ValueObject object(Variant(LONG{1}).detach());
    {
        SafeArrayPtr array(SafeArrayCreateVector(VT_VARIANT, 0, 2));
        LONG first = 0;
        Variant element = Variant::fromDispatch(&object);
        EXPECT_EQ(SafeArrayPutElement(array.get(), &first, &element), S_OK);
        SafeArrayPtr copy;
        EXPECT_EQ(SafeArrayCopy(array.get(), copy.put()), S_OK);
        EXPECT_EQ(object.references(), 3u);
        SafeArrayPtr units(SafeArrayCreateVector(VT_UNKNOWN, 0, 1));
        EXPECT_EQ(SafeArrayPutElement(units.get(), &first, static_cast<IUnknown*>(&object)), S_OK);
        EXPECT_EQ(object.references(), 4u);
    }
    EXPECT_EQ(object.references(), 0u);
}

TEST(SafeArray, CopiesOfPlainValuesKeepShapeAndEveryElement) {
    const SAFEARRAYBOUND bounds[] = {{3, -1}, {2, 5}};
    SafeArrayPtr array(SafeArrayCreate(VT_I4, 2, bounds));
    for (LONG cell = 0; cell < 6; ++cell) static_cast<LONG*>(array.get()->pvData)[cell] = 1000 + cell;
    SafeArrayPtr copy;
    ASSERT_EQ(SafeArrayCopy(array.get(), copy.put()), S_OK);
    EXPECT_NE(copy.get()->pvData, array.get()->pvData);
    for (LONG cell = 0; cell < 6; ++cell) EXPECT_EQ(static_cast<LONG*>(copy.get()->pvData)[cell], 1000 + cell);
    LONG lower = 0;
    SafeArrayGetLBound(copy.get(), 1, &lower);
    EXPECT_EQ(lower, -1);
    VARTYPE vt = VT_EMPTY;
    SafeArrayGetVartype(copy.get(), &vt);
    EXPECT_EQ(vt, VT_I4);
}

TEST(SafeArray, RefusesImpossibleShapes) {
    EXPECT_EQ(SafeArrayCreateVector(VT_RECORD, 0, 1), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_UI1, 0, nullptr), nullptr);
    const SAFEARRAYBOUND huge[] = {{0xFFFFFFFF, 0}, {0xFFFFFFFF, 0}};
    EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 2, huge), nullptr);
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

}  // namespace
}  // namespace com
