// Internal to the variant implementation files.
#pragma once

#include "platform/com/variant.h"

namespace com::detail {

// `shallow` becomes the value a VT_BYREF variant points at (or a plain copy
// of the bits of any other variant), owning nothing.
HRESULT readThrough(const VARIANT* src, VARIANT& shallow);

}  // namespace com::detail
