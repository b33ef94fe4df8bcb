#include "platform/com/invoke.h"

#include <algorithm>
#include <array>
#include <memory>

#include "platform/com/error_info.h"

namespace com {

namespace {

const MemberDescription* chooseMember(const InterfaceDescription& type, DISPID id, WORD flags) {
    if (flags & DISPATCH_PROPERTYPUTREF) {
        if (const auto* m = type.find(id, MemberKind::propertyPutRef)) return m;
    }
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return type.find(id, MemberKind::propertyPut);
    // Basic asks for "method or property get" when it cannot tell.
    if (flags & DISPATCH_METHOD) {
        if (const auto* m = type.find(id, MemberKind::method)) return m;
    }
    if (flags & DISPATCH_PROPERTYGET) return type.find(id, MemberKind::propertyGet);
    return nullptr;
}

bool isMissingMarker(const VARIANT& v) { return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND; }

// n values, kept in place when n is small, as it is for nearly every call:
// a property put runs a million times a second in a busy host.
template <class T, std::size_t Few = 8>
class SmallArray {
public:
    explicit SmallArray(std::size_t n, const T& value = T{}) : size_(n) {
        if (n > Few) many_ = std::make_unique<T[]>(n);
        std::fill_n(data(), n, value);
    }
    T* data() { return many_ ? many_.get() : few_.data(); }
    T& operator[](std::size_t i) { return data()[i]; }
    std::span<T> span() { return {data(), size_}; }

private:
    std::size_t size_;
    std::array<T, Few> few_;
    std::unique_ptr<T[]> many_;
};

VARIANT emptyVariant() {
    VARIANT v;
    VariantInit(&v);
    return v;
}

// Holds the arguments Invoke hands to a member; frees only the ones it made.
class ArgumentSet {
public:
    explicit ArgumentSet(std::size_t n) : size_(n), values_(n, emptyVariant()), owned_(n, false), missing_(n, false) {}
    ArgumentSet(const ArgumentSet&) = delete;
    ArgumentSet& operator=(const ArgumentSet&) = delete;
    ~ArgumentSet() {
        for (std::size_t i = 0; i < size_; ++i) {
            if (owned_[i]) VariantClear(&values_[i]);
        }
    }

    void borrow(std::size_t i, const VARIANT& v) { values_[i] = v; }
    VARIANT& own(std::size_t i) {
        owned_[i] = true;
        return values_[i];
    }
    void setMissing(std::size_t i) {
        values_[i].vt = VT_ERROR;
        values_[i].scode = DISP_E_PARAMNOTFOUND;
        missing_[i] = true;
    }
    std::span<VARIANT> values() { return values_.span(); }
    std::span<const bool> missing() { return missing_.span(); }

private:
    std::size_t size_;
    SmallArray<VARIANT> values_;
    SmallArray<bool> owned_;
    SmallArray<bool> missing_;
};

HRESULT coerce(const ParamDescription& param, VARIANT* source, ArgumentSet& set, std::size_t i) {
    if (param.type & VT_BYREF) {
        if (source->vt == param.type) {
            set.borrow(i, *source);
            return S_OK;
        }
        if (param.type == (VT_BYREF | VT_VARIANT)) {
            // A plain value passed where a variant reference is declared: refer to it.
            VARIANT& ref = set.own(i);
            ref.vt = VT_BYREF | VT_VARIANT;
            ref.pvarVal = source;
            return S_OK;
        }
        return DISP_E_TYPEMISMATCH;
    }
    if (param.type == VT_VARIANT) {
        if (source->vt & VT_BYREF) return VariantCopyInd(&set.own(i), source);
        set.borrow(i, *source);
        return S_OK;
    }
    if (source->vt == param.type) {
        set.borrow(i, *source);
        return S_OK;
    }
    return VariantChangeType(&set.own(i), source, 0, param.type);
}

void fillException(EXCEPINFO& exception, HRESULT hr) {
    exception = EXCEPINFO{};
    exception.scode = hr;
    if (auto record = takeErrorInfo()) {
        exception.bstrSource = allocBstr(record->source);
        exception.bstrDescription = allocBstr(record->description);
        exception.bstrHelpFile = record->helpFile.empty() ? nullptr : allocBstr(record->helpFile);
        exception.dwHelpContext = record->helpContext;
    }
}

}  // namespace

HRESULT invokeMember(const InterfaceDescription& type, DISPID id, REFIID riid, LCID lcid, WORD flags,
                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception, UINT* argumentError,
                     const MemberHandler& handler) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (params == nullptr || (params->cArgs > 0 && params->rgvarg == nullptr) || params->cNamedArgs > params->cArgs ||
        (params->cNamedArgs > 0 && params->rgdispidNamedArgs == nullptr)) {
        return E_INVALIDARG;
    }
    const MemberDescription* member = chooseMember(type, id, flags);
    if (member == nullptr) return DISP_E_MEMBERNOTFOUND;

    const std::size_t n = member->params.size();
    const bool isPut = member->kind == MemberKind::propertyPut || member->kind == MemberKind::propertyPutRef;
    if (isPut && n == 0) return DISP_E_BADPARAMCOUNT;
    SmallArray<VARIANT*> slot(n, nullptr);
    SmallArray<UINT> slotIndex(n, 0);
    auto fail = [&](HRESULT hr, UINT index) {
        if (argumentError) *argumentError = index;
        return hr;
    };

    UINT named = params->cNamedArgs;
    UINT firstPositional = named;  // rgvarg[firstPositional .. cArgs-1] are positional, last first
    const std::size_t ordinary = isPut ? n - 1 : n;
    for (UINT j = 0; j < params->cNamedArgs; ++j) {
        const DISPID target = params->rgdispidNamedArgs[j];
        std::size_t p = 0;
        if (target == DISPID_PROPERTYPUT && isPut) {
            p = n - 1;
        } else if (target >= 0 && static_cast<std::size_t>(target) < ordinary) {
            p = static_cast<std::size_t>(target);
        } else {
            return fail(DISP_E_PARAMNOTFOUND, j);
        }
        if (slot[p] != nullptr) return fail(DISP_E_PARAMNOTFOUND, j);
        slot[p] = &params->rgvarg[j];
        slotIndex[p] = j;
    }
    if (isPut && slot[n - 1] == nullptr) {
        // Some callers put without naming the value; it is then the last argument.
        if (params->cNamedArgs != 0 || params->cArgs == 0) return DISP_E_PARAMNOTOPTIONAL;
        slot[n - 1] = &params->rgvarg[0];
        slotIndex[n - 1] = 0;
        firstPositional = 1;
    }
    const UINT positional = params->cArgs - firstPositional;
    if (positional > ordinary) return DISP_E_BADPARAMCOUNT;
    for (UINT k = 0; k < positional; ++k) {
        const UINT index = params->cArgs - 1 - k;
        if (slot[k] != nullptr) return fail(DISP_E_PARAMNOTFOUND, index);
        slot[k] = &params->rgvarg[index];
        slotIndex[k] = index;
    }

    ArgumentSet args(n);
    for (std::size_t p = 0; p < n; ++p) {
        const ParamDescription& param = member->params[p];
        if (slot[p] == nullptr || isMissingMarker(*slot[p])) {
            if (!param.optional) {
                return slot[p] == nullptr && named == 0 ? DISP_E_BADPARAMCOUNT
                                                        : fail(DISP_E_PARAMNOTOPTIONAL, slotIndex[p]);
            }
            args.setMissing(p);
            continue;
        }
        const HRESULT hr = coerce(param, slot[p], args, p);
        if (FAILED(hr)) return fail(hr, slotIndex[p]);
    }

    Variant scratch;
    VARIANT& out = result ? *result : static_cast<VARIANT&>(scratch);
    VariantInit(&out);
    // Whatever error information is found after a failure is this call's.
    SetErrorInfo(0, nullptr);
    InvokeArguments view(args.values(), args.missing(), out, flags, lcid);
    const HRESULT hr = handler(*member, view);
    if (SUCCEEDED(hr)) return hr;
    VariantClear(&out);
    if (exception == nullptr) return hr;
    fillException(*exception, hr);
    return DISP_E_EXCEPTION;
}

}  // namespace com
