// The private-profile functions: one value at a time from and to an INI file.
//
// Shaped like the platform calls the bridge was written against, including
// their null-pointer forms (list sections, list keys, remove a key, remove a
// section) and their buffer rule: `size` counts the terminating NUL, so at
// most size - 1 characters come back and a longer value comes back cut.
//
// The file's format and matching rules are those of ProfileDocument: 8-bit
// text in Windows-1252, names matched without regard to letter case, other
// lines kept as they are, new lines ending in CR LF.
#pragma once

#include <cstdint>

namespace platform::profile {

// Copies the value of keyName in section appName (or defaultText, trailing
// blanks removed, when the file, section or key is missing) into buffer and
// NUL-terminates it. Returns the number of characters copied, without the
// NUL. appName null: every section name, each NUL-terminated, with one more
// NUL at the end; keyName null: every key name of the section, likewise.
// A list that does not fit is cut and ends in two NULs; the result is then
// size - 2.
std::uint32_t GetPrivateProfileStringA(const char* appName, const char* keyName, const char* defaultText, char* buffer,
                                       std::uint32_t size, const char* fileName);

// Sets keyName in section appName to text, creating the file, section or key
// as needed. text null removes the key; keyName null removes the section.
// Returns nonzero on success. The folder must exist. A name or value that
// would change the file's line structure (a CR or LF anywhere, '=' in a key
// name, ']' in a section name) is refused and nothing is written.
// The file is replaced as a whole through a temporary file in the same
// folder, so a crash never leaves half a settings file behind.
int WritePrivateProfileStringA(const char* appName, const char* keyName, const char* text, const char* fileName);

}  // namespace platform::profile
