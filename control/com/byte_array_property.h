// The byte-array form of the control's properties (DataToSendB, the
// certificate twins, the two event-data slots): a VARIANT holding a
// one-dimensional SAFEARRAY of bytes, in both directions.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "platform/com/variant.h"

namespace morvane {

// The bytes a put hands over. The value must hold an array (directly or by
// reference) of exactly one dimension, whatever its lower bound. Byte
// elements are taken as they are; integer elements (signed or unsigned, any
// width, and Booleans) give their low byte; variant elements are read one by
// one as integers and give their low byte. Anything else (no array, more
// dimensions, elements of text, floating point, objects, a variant element
// that is not a number) gives no value: "Property accepts only
// one-dimensional byte arrays.".
std::optional<std::string> bytesFromVariant(const VARIANT& value);

// When the value holds a one-dimensional array of VT_UI1 or VT_I1 elements,
// calls `use` with its bytes where they lie (the array locked meanwhile) and
// returns true: a payload of megabytes need not be copied to be sent. Any
// other value gives false and `use` is not called; bytesFromVariant then
// says what it holds.
bool useBytesInPlace(const VARIANT& value, const std::function<void(std::span<const std::uint8_t>)>& use);

// A one-dimensional VT_UI1 array, lower bound 0, holding exactly `bytes`;
// E_OUTOFMEMORY when it cannot be allocated.
HRESULT variantFromBytes(std::span<const std::uint8_t> bytes, VARIANT& out);

}  // namespace morvane
