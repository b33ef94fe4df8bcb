// --members: the control's members as a type browser sees them, read from
// its type information (IDispatch::GetTypeInfo for the properties and
// methods, IProvideClassInfo for the events), one JSON line each.
#pragma once

#include <functional>
#include <string>

#include "platform/com/dispatch.h"

namespace morvane::cli {

// Prints one line per visible member through `print`; S_OK, or the failure
// of the first type-information call that did not work.
HRESULT listMembers(IDispatch* object, const std::function<void(const std::string&)>& print);

}  // namespace morvane::cli
