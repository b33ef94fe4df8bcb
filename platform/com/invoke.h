// IDispatch served from an InterfaceDescription. Invoke picks the member by
// DISPID and call kind, maps positional (reverse-order) and named arguments to
// the declared parameters, checks their count, coerces each to its declared
// type with VariantChangeType (by-reference parameters must match exactly),
// and hands them over in declaration order. When the member fails, the
// thread's error information becomes the caller's EXCEPINFO and Invoke
// returns DISP_E_EXCEPTION, as automation callers expect.
#pragma once

#include <functional>
#include <span>
#include <vector>

#include "platform/com/dispatch.h"
#include "platform/com/type_description.h"
#include "platform/com/type_info.h"

namespace com {

class InvokeArguments {
public:
    InvokeArguments(std::span<VARIANT> values, std::span<const bool> missing, VARIANT& result, WORD flags, LCID lcid)
        : values_(values), missing_(missing), result_(result), flags_(flags), lcid_(lcid) {}

    std::size_t size() const { return values_.size(); }
    // Already of the declared type (or the caller's reference, for VT_BYREF
    // parameters). Borrowed: never free or keep one.
    VARIANT& operator[](std::size_t i) const { return values_[i]; }
    bool missing(std::size_t i) const { return missing_[i]; }
    // Empty on entry; set it for a member with a result.
    VARIANT& result() const { return result_; }
    WORD flags() const { return flags_; }
    LCID lcid() const { return lcid_; }

private:
    std::span<VARIANT> values_;
    std::span<const bool> missing_;
    VARIANT& result_;
    WORD flags_;
    LCID lcid_;
};

using MemberHandler = std::function<HRESULT(const MemberDescription&, InvokeArguments&)>;

HRESULT invokeMember(const InterfaceDescription& type, DISPID id, REFIID riid, LCID lcid, WORD flags,
                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* argumentError,
                     const MemberHandler& handler);

// The IDispatch half of a dual (or dispatch-only) interface. The final class
// names its description and routes each member to its own vtable method:
//
//   const InterfaceDescription& dispatchType() const override { return kWidgetType; }
//   HRESULT invokeMember(const MemberDescription& m, InvokeArguments& a) override {
//     switch (m.id) { case 1: return m.kind == MemberKind::propertyGet ? get_Count(&a.result().lVal) ...
template <class Interface>
class DispatchImpl : public Interface {
public:
    HRESULT GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_INVALIDARG;
        ComPtr<ITypeLib> library;
        *count = SUCCEEDED(loadTypeLibrary(library.put())) ? 1 : 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT index, LCID, ITypeInfo** typeInfo) override {
        if (typeInfo == nullptr) return E_POINTER;
        *typeInfo = nullptr;
        ComPtr<ITypeLib> library;
        const HRESULT hr = loadTypeLibrary(library.put());
        if (FAILED(hr)) return hr;
        if (index != 0) return DISP_E_BADINDEX;
        return library->GetTypeInfoOfGuid(dispatchType().iid, typeInfo);
    }
    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return com::getIDsOfNames(dispatchType(), riid, names, count, ids);
    }
    HRESULT Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argumentError) override {
        return com::invokeMember(dispatchType(), member, riid, lcid, flags, params, result, exception, argumentError,
                                 [this](const MemberDescription& m, InvokeArguments& a) { return invokeMember(m, a); });
    }

protected:
    DispatchImpl() = default;
    ~DispatchImpl() = default;
    virtual const InterfaceDescription& dispatchType() const = 0;
    virtual HRESULT invokeMember(const MemberDescription& member, InvokeArguments& args) = 0;
    // The library describing dispatchType(), for GetTypeInfo; without one the
    // object offers no type information.
    virtual HRESULT loadTypeLibrary(ITypeLib** library) {
        *library = nullptr;
        return E_NOTIMPL;
    }
};

}  // namespace com
