// Code-page conversions between 8-bit text and UTF-16, the way the Windows
// MultiByteToWideChar / WideCharToMultiByte pair behaves, built on iconv.
//
// Code page 0 (CP_ACP) is the system ANSI code page: Windows-1252 unless the
// environment variable TALTRIX_ANSI_CODEPAGE names another number (for example
// TALTRIX_ANSI_CODEPAGE=65001). The variable is read once, on first use; an
// unusable value (not a number, or a code page we cannot convert) is ignored.
// Code page 1 (CP_OEMCP) is 437.
//
// Behaviour on bad input, by mode:
//  - ConversionMode::replace (the default, as Windows without flags):
//      decoding UTF-8, every maximal invalid subsequence becomes U+FFFD;
//      decoding another code page, a byte (or byte pair) with no mapping
//      becomes U+FFFD;
//      encoding, a character the code page cannot hold becomes '?' (the
//      default character) and `usedDefaultChar` is set; encoding UTF-8, an
//      unpaired surrogate becomes U+FFFD.
//  - ConversionMode::strict (MB_ERR_INVALID_CHARS / WC_ERR_INVALID_CHARS):
//      any of the above fails with ConversionStatus::invalidInput and no text.
// An unknown code page always fails with ConversionStatus::unknownCodePage.
//
// Windows-1252 round-trips all 256 byte values one to one: its five undefined
// bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D) decode to the C1 controls of the same
// value, as Windows does; the other Windows 125x code pages do the same for
// their undefined bytes in 0x80-0x9F.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace codepage {

inline constexpr unsigned CP_ACP = 0;
inline constexpr unsigned CP_OEMCP = 1;
inline constexpr unsigned CP_UTF8 = 65001;

// Environment variable that overrides the system ANSI code page.
inline constexpr const char* kAnsiCodePageVariable = "TALTRIX_ANSI_CODEPAGE";

enum class ConversionStatus { ok, unknownCodePage, invalidInput };
enum class ConversionMode { replace, strict };

struct WideResult {
    std::u16string text;
    ConversionStatus status = ConversionStatus::ok;
    bool ok() const { return status == ConversionStatus::ok; }
};

struct NarrowResult {
    std::string text;
    ConversionStatus status = ConversionStatus::ok;
    bool usedDefaultChar = false;  // an unmappable character became '?'
    bool ok() const { return status == ConversionStatus::ok; }
};

// The system ANSI code page (1252 unless overridden, see above).
unsigned ansiCodePage();

// Resolves the pseudo code pages 0 (ANSI) and 1 (OEM) to real numbers.
unsigned resolveCodePage(unsigned codePage);

// True when text in this code page can be converted.
bool isValidCodePage(unsigned codePage);

// The iconv name used for a code page, if we know one.
std::optional<std::string_view> iconvName(unsigned codePage);

WideResult multiByteToWide(unsigned codePage, std::string_view bytes, ConversionMode mode = ConversionMode::replace);

// For callers that provide the destination themselves (a BSTR, say): when
// every byte of `bytes` becomes exactly one UTF-16 unit in this code page (a
// single-byte code page, or UTF-8 text that is all ASCII), writes those
// bytes.size() units to `out` as multiByteToWide would in replace mode and
// returns true. Otherwise returns false, having written anything or nothing
// to `out`, and the caller takes multiByteToWide.
bool widenOneToOne(unsigned codePage, std::string_view bytes, char16_t* out);

NarrowResult wideToMultiByte(unsigned codePage, std::u16string_view text,
                             ConversionMode mode = ConversionMode::replace);

// The way back, for callers that provide the destination (a buffer on the
// stack, say): when `text` is all ASCII and the code page keeps ASCII as it
// is, writes its text.size() bytes to `out` as wideToMultiByte would and
// returns true. Otherwise returns false, having written anything or nothing
// to `out`, and the caller takes wideToMultiByte.
bool narrowAsciiText(unsigned codePage, std::u16string_view text, char* out);

// UTF-8 shortcuts (code page 65001), replacing bad input.
std::u16string utf8ToUtf16(std::string_view bytes);
std::string utf16ToUtf8(std::u16string_view text);

}  // namespace codepage
