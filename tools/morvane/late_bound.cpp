#include "tools/morvane/late_bound.h"

#include <cstdio>

#include "platform/com/bstr.h"
#include "platform/com/error_info.h"
#include "platform/text/code_page.h"
#include "tools/morvane/json_text.h"

namespace morvane::cli {

CallResult LateBound::get(std::string_view name, std::optional<long> index) {
    std::vector<com::Variant> args;
    if (index) args.emplace_back(static_cast<LONG>(*index));
    return invoke(name, DISPATCH_PROPERTYGET, args);
}

CallResult LateBound::put(std::string_view name, com::Variant value) {
    return invoke(name, DISPATCH_PROPERTYPUT, std::span<com::Variant>(&value, 1));
}

CallResult LateBound::putLent(std::string_view name, const VARIANT& value) {
    com::Variant lent;
    static_cast<VARIANT&>(lent) = value;
    CallResult result = invoke(name, DISPATCH_PROPERTYPUT, std::span<com::Variant>(&lent, 1));
    // Handed back untouched: the owner frees it.
    VariantInit(&lent);
    return result;
}

CallResult LateBound::call(std::string_view name, std::vector<com::Variant> args) {
    return invoke(name, DISPATCH_METHOD, args);
}

CallResult LateBound::invoke(std::string_view name, WORD flags, std::span<com::Variant> args) {
    CallResult result;
    auto known = dispids_.find(name);
    if (known == dispids_.end()) {
        HRESULT lookup = S_OK;
        const DISPID id = com::dispidOfName(object_.get(), codepage::utf8ToUtf16(name), &lookup);
        if (id == DISPID_UNKNOWN) {
            result.hr = FAILED(lookup) ? lookup : DISP_E_UNKNOWNNAME;
            result.description = u"Unknown name.";
            return result;
        }
        known = dispids_.emplace(std::string(name), id).first;
    }
    const DISPID id = known->second;
    com::ExcepInfo exception;
    const HRESULT hr = com::invoke(object_.get(), id, flags, args, &result.value, &exception);
    if (hr == DISP_E_EXCEPTION) {
        result.hr = exception.error();
        result.description = com::bstrView(exception.bstrDescription);
        result.helpContext = exception.dwHelpContext;
    } else {
        result.hr = hr;
    }
    return result;
}

std::string errorLine(std::string_view member, const CallResult& result) {
    return "{\"error\":{\"member\":" + jsonString(member) + ",\"hresult\":" + jsonString(hresultText(result.hr)) +
           ",\"description\":" + jsonString(result.description) +
           ",\"helpContext\":" + std::to_string(result.helpContext) + "}}";
}

bool reportFailure(std::string_view member, const CallResult& result) {
    if (result.ok()) return true;
    const std::string line = errorLine(member, result) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    return false;
}

}  // namespace morvane::cli
