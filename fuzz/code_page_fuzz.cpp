// Received payloads become the Text of DataIn through the code-page layer,
// which takes long texts a block at a time. Whatever the bytes, the code
// page and the alignment of the destination: the block paths read exactly as
// a byte at a time, never write outside their destination, and text read in
// a code page (or valid UTF-8) is written back as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/text/code_page.h"

namespace {

constexpr unsigned kCodePages[] = {1252, 1253, 437, 866, codepage::CP_UTF8, 932};
constexpr std::size_t kGuard = 8;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const unsigned cp = kCodePages[data[0] % std::size(kCodePages)];
    const std::size_t offset = data[1] % 8;
    const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);

    const codepage::WideResult wide = codepage::multiByteToWide(cp, text);
    if (!wide.ok() || wide.text.size() > text.size()) std::abort();

    std::u16string room(kGuard + 8 + text.size() + kGuard, u'\uABCD');
    if (codepage::widenOneToOne(cp, text, room.data() + kGuard + offset)) {
        if (room.compare(kGuard + offset, text.size(), wide.text) != 0) std::abort();
        for (std::size_t i = 0; i < kGuard + offset; ++i) {
            if (room[i] != u'\uABCD') std::abort();
        }
        for (std::size_t i = kGuard + offset + text.size(); i < room.size(); ++i) {
            if (room[i] != u'\uABCD') std::abort();
        }
    } else if (cp != codepage::CP_UTF8 && cp != 932) {
        std::abort();  // every byte of a single-byte code page is one character
    }

    // Code pages that map every byte to a character of its own read back as
    // they were written.
    if ((cp == 1252 || cp == 437 || cp == 866) && codepage::wideToMultiByte(cp, wide.text).text != text) std::abort();

    if (cp == codepage::CP_UTF8) {
        const codepage::WideResult strict = codepage::multiByteToWide(cp, text, codepage::ConversionMode::strict);
        if (strict.ok() && (strict.text != wide.text || codepage::utf16ToUtf8(strict.text) != text)) std::abort();
    } else if (cp != 932) {
        std::u16string byByte;
        for (const char byte : text) byByte += codepage::multiByteToWide(cp, std::string_view(&byte, 1)).text;
        if (byByte != wide.text) std::abort();
    }
    return 0;
}
