// The relay key never leaves the machine in a diagnostics bundle: it is
// masked in Settings.pgs and wherever else its text turns up.
#pragma once

#include <string>
#include <string_view>

namespace taltrix::support {

inline constexpr std::string_view maskedKey = "********";

// Settings.pgs with the value of every HalvexPlay_key (key names compared
// without regard to case, as the profile functions do) replaced by the mask;
// an empty value stays empty, so that the bundle shows that none was set.
// Everything else, line ends included, stays as it is.
std::string maskSettings(std::string_view settings);

// The value of HalvexPlay_key in Settings.pgs text, or "".
std::string relayKey(std::string_view settings);

// `text` with every occurrence of `secret` replaced by the mask. A secret
// shorter than four characters would mask common text and is left alone.
std::string maskSecret(std::string_view text, std::string_view secret);

}  // namespace taltrix::support
