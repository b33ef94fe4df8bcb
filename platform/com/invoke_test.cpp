#include "platform/com/invoke.h"

#include <gtest/gtest.h>

#include "platform/com/error_info.h"
#include "platform/com/testdata/widget_fixture.h"

namespace com::testing {
namespace {

class InvokeTest : public WidgetTest {
protected:
    void SetUp() override {
        WidgetTest::SetUp();
        widget_ = create();
        ASSERT_TRUE(widget_);
        dispatch_ = widget_.as<IDispatch>();
    }
    DISPID id(std::u16string_view name) { return dispidOfName(dispatch_.get(), name); }
    HRESULT call(std::u16string_view name, WORD flags, std::vector<Variant> args, Variant* result = nullptr,
                 ExcepInfo* exception = nullptr, UINT* argumentError = nullptr) {
        return invoke(dispatch_.get(), id(name), flags, std::span<Variant>(args), result, exception, argumentError);
    }
    ComPtr<ITestWidget> widget_;
    ComPtr<IDispatch> dispatch_;
};

TEST_F(InvokeTest, NamesResolveWithoutRegardToCase) {
    EXPECT_EQ(id(u"Count"), dispidCount);
    EXPECT_EQ(id(u"cOUNT"), dispidCount);
    EXPECT_EQ(id(u"ping"), dispidPing);
    HRESULT hr = S_OK;
    EXPECT_EQ(dispidOfName(dispatch_.get(), u"Nonsense", &hr), DISPID_UNKNOWN);
    EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);
    std::u16string member = u"add";
    std::u16string times = u"TIMES";
    std::u16string bogus = u"bogus";
    LPOLESTR names[] = {member.data(), times.data(), bogus.data()};
    DISPID ids[3] = {};
    EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, names, 3, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], dispidAdd);
    EXPECT_EQ(ids[1], 1);
    EXPECT_EQ(ids[2], DISPID_UNKNOWN);
    EXPECT_EQ(dispatch_->GetIDsOfNames(IID_IDispatch, names, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);
}

TEST_F(InvokeTest, PropertiesCoerceTheirValues) {
    EXPECT_EQ(call(u"Count", DISPATCH_PROPERTYPUT, {Variant(u" 41 ")}), S_OK);
    Variant value;
    EXPECT_EQ(call(u"Count", DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, &value), S_OK);
    EXPECT_EQ(value.vt, VT_I4);
    EXPECT_EQ(value.lVal, 41);
    EXPECT_EQ(call(u"Name", DISPATCH_PROPERTYPUT, {Variant(2.5)}), S_OK);
    EXPECT_EQ(call(u"Name", DISPATCH_PROPERTYGET, {}, &value), S_OK);
    EXPECT_EQ(bstrView(value.bstrVal), u"2.5");
    EXPECT_EQ(call(u"Item", DISPATCH_PROPERTYGET, {Variant(u"2")}, &value), S_OK);
    EXPECT_EQ(bstrView(value.bstrVal), u"item2");
    // A put without the named DISPID_PROPERTYPUT argument still takes the value.
    Variant raw(LONG{7});
    DISPPARAMS params{&raw, nullptr, 1, 0};
    EXPECT_EQ(dispatch_->Invoke(dispidCount, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr),
              S_OK);
    LONG count = 0;
    widget_->get_Count(&count);
    EXPECT_EQ(count, 7);
}

TEST_F(InvokeTest, ArgumentsAreCountedAndChecked) {
    Variant result;
    UINT argumentError = 99;
    EXPECT_EQ(call(u"Add", DISPATCH_METHOD, {Variant(LONG{2})}, &result), S_OK);
    EXPECT_EQ(result.lVal, 2);  // Times left out
    EXPECT_EQ(call(u"Add", DISPATCH_METHOD, {Variant(LONG{2}), Variant(u"3")}, &result), S_OK);
    EXPECT_EQ(result.lVal, 8);
    EXPECT_EQ(call(u"Add", DISPATCH_METHOD, {Variant(LONG{1}), Variant::missing()}, &result), S_OK);
    EXPECT_EQ(result.lVal, 9);
    EXPECT_EQ(call(u"Add", DISPATCH_METHOD, {}, &result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(call(u"Add", DISPATCH_METHOD, {Variant(LONG{1}), Variant(LONG{1}), Variant(LONG{1})}, &result),
              DISP_E_BADPARAMCOUNT);
    // Arguments travel last to first, so the first one is rgvarg[1].
    EXPECT_EQ(call(u"Add", DISPATCH_METHOD, {Variant(u"many"), Variant(LONG{1})}, &result, nullptr, &argumentError),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argumentError, 1u);
    EXPECT_EQ(call(u"Count", DISPATCH_PROPERTYPUT, {Variant(1e12)}, nullptr, nullptr, &argumentError), DISP_E_OVERFLOW);
    EXPECT_EQ(call(u"Item", DISPATCH_PROPERTYPUT, {Variant(LONG{0}), Variant(u"x")}), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(invoke(dispatch_.get(), 777, DISPATCH_METHOD, std::span<VARIANT>(), nullptr), DISP_E_MEMBERNOTFOUND);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(dispatch_->Invoke(dispidCount, IID_IDispatch, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
}

TEST_F(InvokeTest, NamedArgumentsFindTheirParameters) {
    Variant args[] = {Variant(LONG{10}), Variant(LONG{3})};  // Times:=10, Amount:=3
    DISPID names[] = {1, 0};
    DISPPARAMS params{args, names, 2, 2};
    Variant result;
    ASSERT_EQ(dispatch_->Invoke(dispidAdd, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.lVal, 30);
    DISPID wrong[] = {5, 0};
    params.rgdispidNamedArgs = wrong;
    UINT argumentError = 99;
    EXPECT_EQ(dispatch_->Invoke(dispidAdd, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, &argumentError),
              DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(argumentError, 0u);
    DISPID onlyTimes[] = {1};
    Variant timesOnly(LONG{2});
    DISPPARAMS missingAmount{&timesOnly, onlyTimes, 1, 1};
    EXPECT_EQ(dispatch_->Invoke(dispidAdd, IID_NULL, 0, DISPATCH_METHOD, &missingAmount, &result, nullptr, nullptr),
              DISP_E_PARAMNOTOPTIONAL);
}

TEST_F(InvokeTest, ByReferenceArgumentsAreWrittenThrough) {
    LONG a = 1;
    LONG b = 2;
    EXPECT_EQ(call(u"Swap", DISPATCH_METHOD, {Variant::byRef(VT_I4, &a), Variant::byRef(VT_I4, &b)}), S_OK);
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 1);
    // By-reference parameters take no coercion.
    SHORT small = 1;
    EXPECT_EQ(call(u"Swap", DISPATCH_METHOD, {Variant::byRef(VT_I2, &small), Variant::byRef(VT_I4, &b)}),
              DISP_E_TYPEMISMATCH);
    // A by-reference argument to a by-value parameter is read through.
    BSTR name = SysAllocString(u"referenced");
    EXPECT_EQ(call(u"Name", DISPATCH_PROPERTYPUT, {Variant::byRef(VT_BSTR, &name)}), S_OK);
    SysFreeString(name);
    BStr stored;
    widget_->get_Name(stored.put());
    EXPECT_EQ(stored.view(), u"referenced");
}

TEST_F(InvokeTest, FailuresArriveAsExceptionsWithTheErrorInfo) {
    ExcepInfo exception;
    Variant result;
    EXPECT_EQ(call(u"Fail", DISPATCH_METHOD, {Variant(u"It broke.")}, &result, &exception), DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 1001));
    EXPECT_EQ(exception.error(), exception.scode);
    EXPECT_EQ(bstrView(exception.bstrDescription), u"It broke.");
    EXPECT_EQ(bstrView(exception.bstrSource), u"TaltrixTest.Widget");
    EXPECT_EQ(bstrView(exception.bstrHelpFile), u"widget.chm");
    EXPECT_EQ(exception.dwHelpContext, 42u);
    EXPECT_FALSE(takeErrorInfo().has_value());  // handed over, not left behind
    EXPECT_EQ(call(u"Color", DISPATCH_PROPERTYPUT, {Variant(LONG{3})}, nullptr, &exception), DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, kWidgetBadIndex);
    EXPECT_EQ(bstrView(exception.bstrDescription), u"Value is out of range.");
    EXPECT_EQ(exception.dwHelpContext, kWidgetHelpContext);
    // Without an EXCEPINFO the caller gets the member's own HRESULT and the
    // error info stays for it to take.
    EXPECT_EQ(call(u"Item", DISPATCH_PROPERTYGET, {Variant(SHORT{5})}, &result), kWidgetBadIndex);
    EXPECT_EQ(result.vt, VT_EMPTY);
    auto record = takeErrorInfo();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->description, u"Invalid array index.");
    EXPECT_EQ(record->iid, IID_ITestWidget);
    auto support = widget_.as<ISupportErrorInfo>();
    ASSERT_TRUE(support);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_ITestWidget), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
}

// Calls of up to eight parameters keep their arguments in place; longer ones
// must see the same coercion, order and optional handling from the heap.
TEST(InvokeMember, ShortAndLongParameterListsArriveAlike) {
    for (const std::size_t count : {std::size_t{3}, std::size_t{8}, std::size_t{9}, std::size_t{12}}) {
        std::vector<ParamDescription> params;
        for (std::size_t i = 0; i < count; ++i) params.emplace_back("p" + std::to_string(i), VT_I4, i + 1 == count);
        const InterfaceDescription type{"ILong", IID_NULL, false, {{"Long", 1, MemberKind::method, params}}};
        // Positional arguments travel last first; the last one is left out.
        std::vector<Variant> args;
        for (std::size_t i = count - 1; i-- > 0;) args.emplace_back(Variant(std::u16string(1, u'0' + (i % 10))));
        DISPPARAMS dispParams{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        std::vector<LONG> seen;
        bool lastMissing = false;
        const HRESULT hr = invokeMember(type, 1, IID_NULL, 0, DISPATCH_METHOD, &dispParams, nullptr, nullptr, nullptr,
                                        [&](const MemberDescription&, InvokeArguments& a) {
                                            for (std::size_t i = 0; i + 1 < a.size(); ++i) seen.push_back(a[i].lVal);
                                            lastMissing = a.missing(a.size() - 1);
                                            return S_OK;
                                        });
        EXPECT_EQ(hr, S_OK) << count;
        ASSERT_EQ(seen.size(), count - 1) << count;
        for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], static_cast<LONG>(i % 10)) << count;
        EXPECT_TRUE(lastMissing) << count;
    }
}

}  // namespace
}  // namespace com::testing
