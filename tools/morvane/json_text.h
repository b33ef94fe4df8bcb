// Writing JSON lines: strings (UTF-8 out of UTF-16 BSTRs) and automation
// values as JSON.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/variant.h"

namespace morvane::cli {

// A JSON string literal, quotes included.
std::string jsonString(std::string_view utf8);
std::string jsonString(std::u16string_view utf16);

// The value as JSON: strings, numbers, true/false, null for empty. A byte
// array gives null here; see hexOfBytes.
std::string jsonValue(const VARIANT& value);

// Lower-case hex of a one-dimensional byte array, or "" when the value is
// not one.
std::string hexOfBytes(const VARIANT& value);
bool isByteArray(const VARIANT& value);

// "0x800A017C".
std::string hresultText(HRESULT hr);

}  // namespace morvane::cli
