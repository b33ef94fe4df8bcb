// Error information: the rich error a failing member leaves for its caller
// (source, description, help file and context), kept per thread.
//
// A member that fails calls com::setErrorInfo (or CreateErrorInfo +
// SetErrorInfo) and returns its HRESULT; the caller (or IDispatch::Invoke on
// its behalf, filling EXCEPINFO) takes it with GetErrorInfo, which also clears
// it. Objects that do this say so through ISupportErrorInfo.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/com/bstr.h"
#include "platform/com/unknown.h"

inline constexpr IID IID_IErrorInfo = com::makeGuid("{1CF2B120-547D-101B-8E65-08002B2BD119}");
inline constexpr IID IID_ICreateErrorInfo = com::makeGuid("{22F03340-547D-101B-8E65-08002B2BD119}");
inline constexpr IID IID_ISupportErrorInfo = com::makeGuid("{DF0B3D60-548F-101B-8E65-08002B2BD119}");

struct IErrorInfo : IUnknown {
    static constexpr const IID& uuid = IID_IErrorInfo;
    virtual HRESULT GetGUID(GUID* guid) = 0;
    virtual HRESULT GetSource(BSTR* source) = 0;
    virtual HRESULT GetDescription(BSTR* description) = 0;
    virtual HRESULT GetHelpFile(BSTR* helpFile) = 0;
    virtual HRESULT GetHelpContext(DWORD* helpContext) = 0;

protected:
    ~IErrorInfo() = default;
};

struct ICreateErrorInfo : IUnknown {
    static constexpr const IID& uuid = IID_ICreateErrorInfo;
    virtual HRESULT SetGUID(REFGUID guid) = 0;
    virtual HRESULT SetSource(LPOLESTR source) = 0;
    virtual HRESULT SetDescription(LPOLESTR description) = 0;
    virtual HRESULT SetHelpFile(LPOLESTR helpFile) = 0;
    virtual HRESULT SetHelpContext(DWORD helpContext) = 0;

protected:
    ~ICreateErrorInfo() = default;
};

struct ISupportErrorInfo : IUnknown {
    static constexpr const IID& uuid = IID_ISupportErrorInfo;
    // S_OK when the interface's members leave error information, else S_FALSE.
    virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;

protected:
    ~ISupportErrorInfo() = default;
};

HRESULT CreateErrorInfo(ICreateErrorInfo** created);
// Replaces the thread's error information (null clears it).
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info);
// Hands the thread's error information to the caller and clears it; S_FALSE
// (and null) when there is none.
HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info);

namespace com {

struct ErrorRecord {
    GUID iid{};
    std::u16string source;
    std::u16string description;
    std::u16string helpFile;
    DWORD helpContext = 0;
};

// Sets the thread's error information from `record` and returns `hr`, so a
// member can end with `return com::raiseError(hr, record);`.
HRESULT raiseError(HRESULT hr, const ErrorRecord& record);

// Takes (and clears) the thread's error information.
std::optional<ErrorRecord> takeErrorInfo();

}  // namespace com
