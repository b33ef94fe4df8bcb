#pragma once

// The events and data formats the tool's hosts react to, as the control's
// event interface numbers them. The tool binds late, so these are the only
// numbers it knows without asking the type information.

#include "platform/com/types.h"

namespace morvane::cli {

constexpr DISPID dataInEvent = 3;
constexpr DISPID disconnectedEvent = 4;
constexpr DISPID errorEvent = 5;
constexpr SHORT textFormat = 1;
constexpr SHORT binaryFormat = 2;

}  // namespace morvane::cli
