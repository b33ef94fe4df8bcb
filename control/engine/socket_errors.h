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

// The engine speaks the socket library's numbers, whatever the system under
// it reports: errno values become their 10000-range counterparts. An errno
// with no counterpart becomes 10100 + errno, a number no known code uses,
// so that it still reads as a socket error and keeps its origin visible.
// A number already in the socket range is returned as it is.
int socketErrorFromErrno(int systemError);

// The resolver's failures (getaddrinfo's EAI_ values, or h_errno values of
// the older resolver when `fromHostErrno` is set) as 11001 to 11004.
int resolverErrorCode(int resolverError, bool fromHostErrno = false);

}  // namespace morvane
