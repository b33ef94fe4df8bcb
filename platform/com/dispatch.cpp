#include "platform/com/dispatch.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace com {

void ExcepInfo::clear() {
    SysFreeString(bstrSource);
    SysFreeString(bstrDescription);
    SysFreeString(bstrHelpFile);
    static_cast<EXCEPINFO&>(*this) = EXCEPINFO{};
}

HRESULT ExcepInfo::error() const {
    if (scode != 0) return scode;
    // wCode holds an error number of the object's own; callers see it as a
    // control-facility code.
    if (wCode != 0) return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, wCode);
    return DISP_E_EXCEPTION;
}

DISPID dispidOfName(IDispatch* object, std::u16string_view name, HRESULT* hr) {
    DISPID id = DISPID_UNKNOWN;
    std::u16string text(name);
    LPOLESTR names[] = {text.data()};
    const HRESULT result = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (hr) *hr = result;
    return SUCCEEDED(result) ? id : DISPID_UNKNOWN;
}

HRESULT invoke(IDispatch* object, DISPID member, WORD flags, std::span<VARIANT> args, VARIANT* result,
               ExcepInfo* exception, UINT* argumentError) {
    if (object == nullptr) return E_POINTER;
    // Automation wants the arguments last first; the usual few are turned
    // around on the stack.
    std::array<VARIANTARG, 8> few;
    std::vector<VARIANTARG> many;
    VARIANTARG* reversed = few.data();
    if (args.size() > few.size()) {
        many.resize(args.size());
        reversed = many.data();
    }
    std::reverse_copy(args.begin(), args.end(), reversed);
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed, nullptr, static_cast<UINT>(args.size()), 0};
    if ((flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) && !args.empty()) {
        params.rgdispidNamedArgs = &putId;
        params.cNamedArgs = 1;
    }
    if (exception) exception->clear();
    // The result is [out]: the callee overwrites it without freeing, so a
    // variant reused from an earlier call must let go of its value first.
    if (result) VariantClear(result);
    // The variants are handed over as they are: the callee reads them, and
    // writes through the by-reference ones into the caller's storage.
    return object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, exception, argumentError);
}

}  // namespace com
