// Calling the control the way a late-binding host does: every member found
// by name through GetIDsOfNames, then reached through IDispatch::Invoke.
#pragma once

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/dispatch.h"
#include "platform/com/unknown.h"
#include "platform/com/variant.h"

namespace morvane::cli {

struct CallResult {
    HRESULT hr = S_OK;  // the member's failure, from its error information
    com::Variant value;
    std::u16string description;
    DWORD helpContext = 0;
    bool ok() const { return SUCCEEDED(hr); }
};

class LateBound {
public:
    explicit LateBound(com::ComPtr<IDispatch> object) : object_(std::move(object)) {}

    CallResult get(std::string_view name, std::optional<long> index = std::nullopt);
    CallResult put(std::string_view name, com::Variant value);
    // The same, with `value` lent for the call: it stays the caller's, as
    // every argument does under the automation rules, and is not copied.
    CallResult putLent(std::string_view name, const VARIANT& value);
    CallResult call(std::string_view name, std::vector<com::Variant> args = {});

    IDispatch* object() const { return object_.get(); }

private:
    CallResult invoke(std::string_view name, WORD flags, std::span<com::Variant> args);

    com::ComPtr<IDispatch> object_;
    // Names already looked up: a member's DISPID does not change while the
    // object lives, so each name costs one GetIDsOfNames.
    std::map<std::string, DISPID, std::less<>> dispids_;
};

// {"error":{"member":...,"hresult":...,"description":...,"helpContext":...}}
std::string errorLine(std::string_view member, const CallResult& result);
// True when the call succeeded; otherwise prints its error line.
bool reportFailure(std::string_view member, const CallResult& result);

}  // namespace morvane::cli
