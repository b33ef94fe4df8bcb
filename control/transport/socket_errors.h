// Texts of the socket error numbers (10004 and up, and the resolver's 11001 to
// 11004), the way the socket engine describes a failure that has no text yet.
#pragma once

#include <string>
#include <string_view>

namespace morvane {

// Whether a code is a socket or resolver error number rather than one of the
// engine's own codes.
constexpr bool isSocketErrorCode(int code) { return code >= 10000 && code < 12000; }

// The bare text, or empty when the number is not one the engine knows.
std::string_view socketErrorText(int code);

// "[" code "] " and the text, or "(no description available)" in its place.
std::string socketErrorDescription(int code);

}  // namespace morvane
