// Internal UTF-8 codec of the code-page layer; callers use code_page.h.
#pragma once

#include <string>
#include <string_view>

namespace codepage::detail {

// Both return false only in strict mode, on the first invalid input.
bool decodeUtf8(std::string_view bytes, std::u16string& out, bool strict);
bool encodeUtf8(std::u16string_view text, std::string& out, bool strict);

}  // namespace codepage::detail
