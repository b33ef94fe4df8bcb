// Between BSTRs and the 8-bit text used inside components, through a code page.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/bstr.h"

namespace com {

// How much of a BSTR an 8-bit conversion takes: every character, or (as a C
// string argument would) the characters before the first zero.
enum class BstrExtent { whole, toFirstZero };

// Unmappable characters become '?' (see platform/text/code_page.h). An
// unknown code page gives an empty string.
std::string multiByteFromBstr(BSTR text, unsigned codePage, BstrExtent extent = BstrExtent::whole);

// Null when memory runs out or the code page is unknown.
BSTR bstrFromMultiByte(std::string_view bytes, unsigned codePage);

std::string utf8FromBstr(BSTR text);
BSTR bstrFromUtf8(std::string_view bytes);

}  // namespace com
