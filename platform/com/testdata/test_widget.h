// The interfaces of the test widget server (libcom_test_widget.so): one
// creatable class with a dual interface and one event interface, used by the
// runtime's tests to exercise creation, dispatch, events and registration.
#pragma once

#include "platform/com/dispatch.h"

inline constexpr CLSID CLSID_TestWidget = com::makeGuid("{3F0C9A10-5E2B-4C1D-9A7E-2B6D1E4F8A00}");
inline constexpr IID IID_ITestWidget = com::makeGuid("{3F0C9A10-5E2B-4C1D-9A7E-2B6D1E4F8A01}");
inline constexpr IID DIID_TestWidgetEvents = com::makeGuid("{3F0C9A10-5E2B-4C1D-9A7E-2B6D1E4F8A02}");
inline constexpr GUID LIBID_TestWidgetLib = com::makeGuid("{3F0C9A10-5E2B-4C1D-9A7E-2B6D1E4F8A03}");

inline constexpr const char* kTestWidgetProgId = "TaltrixTest.Widget.1";
inline constexpr const char* kTestWidgetIndependentProgId = "TaltrixTest.Widget";
inline constexpr const char* kTestWidgetOtherProgId = "TaltrixTest.OtherWidget";

// Error the widget raises for a bad Item index or Color.
inline constexpr HRESULT kWidgetBadIndex = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 381);
inline constexpr DWORD kWidgetHelpContext = 7001;

enum TestWidgetDispid : DISPID {
    dispidCount = 1,
    dispidName = 2,
    dispidItem = 3,
    dispidColor = 4,
    dispidAdd = 10,
    dispidFail = 11,
    dispidPing = 12,
    dispidSwap = 13,
};

enum TestWidgetEventDispid : DISPID { dispidPinged = 1 };

struct ITestWidget : IDispatch {
    static constexpr const IID& uuid = IID_ITestWidget;
    virtual HRESULT get_Count(LONG* value) = 0;
    virtual HRESULT put_Count(LONG value) = 0;
    virtual HRESULT get_Name(BSTR* value) = 0;
    virtual HRESULT put_Name(BSTR value) = 0;
    virtual HRESULT get_Item(SHORT index, BSTR* value) = 0;
    virtual HRESULT get_Color(LONG* value) = 0;
    virtual HRESULT put_Color(LONG value) = 0;
    // Adds amount * times (times is optional, 1 when left out) to Count.
    virtual HRESULT Add(LONG amount, VARIANT times, LONG* total) = 0;
    // Always fails, with `message` as the error description.
    virtual HRESULT Fail(BSTR message) = 0;
    // Fires Pinged(text, accept = False) and returns what the sinks left in accept.
    virtual HRESULT Ping(BSTR text, VARIANT_BOOL* accepted) = 0;
    virtual HRESULT Swap(LONG* a, LONG* b) = 0;

protected:
    ~ITestWidget() = default;
};
