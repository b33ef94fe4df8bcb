#include "platform/text/code_page.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/text/ascii_blocks.h"
#include "platform/text/utf8.h"

static_assert(std::endian::native == std::endian::little, "char16_t buffers are handed to iconv as UTF-16LE");

namespace codepage {

namespace {

struct CodePageName {
    unsigned number;
    const char* iconv;
    bool singleByte;
};

// Windows code page numbers and the glibc iconv names that hold the same table.
constexpr CodePageName kCodePages[] = {
    {437, "CP437", true},         {737, "CP737", true},         {775, "CP775", true},
    {850, "CP850", true},         {852, "CP852", true},         {855, "CP855", true},
    {857, "CP857", true},         {858, "CP858", true},         {860, "CP860", true},
    {861, "CP861", true},         {862, "CP862", true},         {863, "CP863", true},
    {864, "CP864", true},         {865, "CP865", true},         {866, "CP866", true},
    {869, "CP869", true},         {874, "CP874", true},         {932, "CP932", false},
    {936, "CP936", false},        {949, "CP949", false},        {950, "CP950", false},
    {1250, "CP1250", true},       {1251, "CP1251", true},       {1252, "CP1252", true},
    {1253, "CP1253", true},       {1254, "CP1254", true},       {1255, "CP1255", true},
    {1256, "CP1256", true},       {1257, "CP1257", true},       {1258, "CP1258", true},
    {1361, "JOHAB", false},       {10000, "MACINTOSH", true},   {20127, "ASCII", true},
    {20866, "KOI8-R", true},      {20932, "EUC-JP", false},     {21866, "KOI8-U", true},
    {28591, "ISO-8859-1", true},  {28592, "ISO-8859-2", true},  {28593, "ISO-8859-3", true},
    {28594, "ISO-8859-4", true},  {28595, "ISO-8859-5", true},  {28596, "ISO-8859-6", true},
    {28597, "ISO-8859-7", true},  {28598, "ISO-8859-8", true},  {28599, "ISO-8859-9", true},
    {28600, "ISO-8859-10", true}, {28601, "ISO-8859-11", true}, {28603, "ISO-8859-13", true},
    {28604, "ISO-8859-14", true}, {28605, "ISO-8859-15", true}, {28606, "ISO-8859-16", true},
    {51932, "EUC-JP", false},     {51949, "EUC-KR", false},     {54936, "GB18030", false},
};

constexpr unsigned kDefaultAnsiCodePage = 1252;
constexpr unsigned kOemCodePage = 437;
constexpr char16_t kReplacement = 0xFFFD;
constexpr char kDefaultChar = '?';
constexpr std::uint32_t kUnmapped = 0xFFFFFFFF;

const CodePageName* findCodePage(unsigned number) {
    for (const auto& entry : kCodePages) {
        if (entry.number == number) return &entry;
    }
    return nullptr;
}

class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Iconv() {
        if (valid()) iconv_close(cd_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

// A single-byte code page as two tables, built once from iconv. Decoding one
// byte at a time also keeps glibc from composing CP1258's combining marks,
// which Windows does not do either.
struct SingleByteTable {
    std::array<std::uint32_t, 256> toWide{};
    std::unordered_map<char16_t, std::uint8_t> toByte;
    // Bytes below 0x80 decode to themselves, so ASCII runs can skip the table.
    bool asciiIdentity = false;
};

std::unique_ptr<SingleByteTable> buildTable(const CodePageName& cp) {
    Iconv cd("UTF-16LE", cp.iconv);
    if (!cd.valid()) return nullptr;
    auto table = std::make_unique<SingleByteTable>();
    const bool windowsFamily = cp.number >= 1250 && cp.number <= 1258;
    for (unsigned b = 0; b < 256; ++b) {
        char in = static_cast<char>(b);
        char16_t out[4];
        char* inPtr = &in;
        std::size_t inLeft = 1;
        char* outPtr = reinterpret_cast<char*>(out);
        std::size_t outLeft = sizeof out;
        iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
        const std::size_t rc = iconv(cd.get(), &inPtr, &inLeft, &outPtr, &outLeft);
        if (rc != static_cast<std::size_t>(-1)) iconv(cd.get(), nullptr, nullptr, &outPtr, &outLeft);
        const std::size_t produced = (sizeof out - outLeft) / sizeof(char16_t);
        if (rc != static_cast<std::size_t>(-1) && produced == 1) {
            table->toWide[b] = out[0];
        } else if (windowsFamily && b >= 0x80 && b <= 0x9F) {
            table->toWide[b] = b;  // Windows keeps undefined C1 bytes as the C1 controls
        } else {
            table->toWide[b] = kUnmapped;
        }
    }
    for (unsigned b = 0; b < 256; ++b) {
        const std::uint32_t wide = table->toWide[b];
        if (wide != kUnmapped) table->toByte.emplace(static_cast<char16_t>(wide), static_cast<std::uint8_t>(b));
    }
    table->asciiIdentity = true;
    for (unsigned b = 0; b < 0x80; ++b) table->asciiIdentity = table->asciiIdentity && table->toWide[b] == b;
    return table;
}

const SingleByteTable* singleByteTable(const CodePageName& cp) {
    static std::mutex mutex;
    static std::map<unsigned, std::unique_ptr<SingleByteTable>> tables;
    std::lock_guard lock(mutex);
    auto it = tables.find(cp.number);
    if (it == tables.end()) it = tables.emplace(cp.number, buildTable(cp)).first;
    return it->second.get();
}

// Decodes `bytes` into out[0, bytes.size()), a byte with no mapping as
// U+FFFD. False when there was such a byte. Received payloads run from a
// few bytes to megabytes: where the code page keeps ASCII as it is, ASCII
// runs are widened in blocks, and the table is looked up only from a byte
// of 0x80 or above to the end of the 16 that follow it.
bool decodeSingleBytes(const SingleByteTable& table, std::string_view bytes, char16_t* out) {
    const auto* in = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t n = bytes.size();
    std::uint32_t unmapped = 0;
    std::size_t i = 0;
    auto lookUp = [&](std::size_t end) {
        for (; i < end; ++i) {
            const std::uint32_t wide = table.toWide[in[i]];
            unmapped |= wide == kUnmapped;
            out[i] = wide == kUnmapped ? kReplacement : static_cast<char16_t>(wide);
        }
    };
    if (!table.asciiIdentity) {
        lookUp(n);
        return unmapped == 0;
    }
    while (i < n) {
        i += detail::widenAscii(in + i, n - i, out + i);
        lookUp(std::min(n, i + 16));
    }
    return unmapped == 0;
}

bool multiByteIconvUsable(const CodePageName& cp) {
    static std::mutex mutex;
    static std::map<unsigned, bool> usable;
    std::lock_guard lock(mutex);
    auto it = usable.find(cp.number);
    if (it == usable.end()) {
        Iconv a("UTF-16LE", cp.iconv);
        Iconv b(cp.iconv, "UTF-16LE");
        it = usable.emplace(cp.number, a.valid() && b.valid()).first;
    }
    return it->second;
}

unsigned readAnsiCodePage() {
    const char* value = std::getenv(kAnsiCodePageVariable);
    if (value == nullptr || *value == '\0') return kDefaultAnsiCodePage;
    std::string_view text(value);
    unsigned number = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (ec != std::errc{} || end != text.data() + text.size()) return kDefaultAnsiCodePage;
    if (number == CP_UTF8) return number;
    const CodePageName* cp = findCodePage(number);
    if (cp == nullptr) return kDefaultAnsiCodePage;
    const bool usable = cp->singleByte ? singleByteTable(*cp) != nullptr : multiByteIconvUsable(*cp);
    return usable ? number : kDefaultAnsiCodePage;
}

// iconv over a whole buffer, stepping over what it refuses. `unitSize` is the
// size of one input unit to skip on a refusal (1 byte, or 1 UTF-16 unit).
template <class Out>
bool runIconv(const char* from, const char* to, const char* data, std::size_t size, std::size_t unitSize, bool strict,
              Out& out, const typename Out::value_type* replacement, std::size_t replacementSize, bool& replaced) {
    Iconv cd(to, from);
    if (!cd.valid()) return false;
    using Unit = typename Out::value_type;
    out.clear();
    std::string buffer;
    buffer.resize(size * 4 + 16);
    char* inPtr = const_cast<char*>(data);
    std::size_t inLeft = size;
    auto flushInto = [&](char* outPtr) {
        const std::size_t bytes = static_cast<std::size_t>(outPtr - buffer.data());
        out.append(reinterpret_cast<const Unit*>(buffer.data()), bytes / sizeof(Unit));
    };
    while (true) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t rc = iconv(cd.get(), &inPtr, &inLeft, &outPtr, &outLeft);
        if (rc != static_cast<std::size_t>(-1)) {
            iconv(cd.get(), nullptr, nullptr, &outPtr, &outLeft);
            flushInto(outPtr);
            return true;
        }
        const int error = errno;
        flushInto(outPtr);
        if (error == E2BIG) continue;
        if (strict) return false;
        out.append(replacement, replacementSize);
        replaced = true;
        std::size_t skip = std::min(unitSize, inLeft);
        if (error == EINVAL) skip = inLeft;  // truncated sequence at the end
        if (unitSize == 2 && error == EILSEQ && inLeft >= 4) {
            // A well-formed surrogate pair the code page cannot hold is one character.
            char16_t first;
            char16_t second;
            std::memcpy(&first, inPtr, 2);
            std::memcpy(&second, inPtr + 2, 2);
            if (first >= 0xD800 && first <= 0xDBFF && second >= 0xDC00 && second <= 0xDFFF) skip = 4;
        }
        inPtr += skip;
        inLeft -= skip;
        iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
        if (inLeft == 0) return true;
    }
}

}  // namespace

unsigned ansiCodePage() {
    static const unsigned value = readAnsiCodePage();
    return value;
}

unsigned resolveCodePage(unsigned codePage) {
    if (codePage == CP_ACP) return ansiCodePage();
    if (codePage == CP_OEMCP) return kOemCodePage;
    return codePage;
}

namespace {

// How text in a code page is converted: UTF-8 by our own codec, a single-byte
// page by its tables, any other page through iconv; `unknown` when none
// applies.
struct Route {
    enum Kind { unknown, utf8, singleByte, iconv } kind = unknown;
    const CodePageName* cp = nullptr;
    const SingleByteTable* table = nullptr;
};

Route findRoute(unsigned codePage) {
    codePage = resolveCodePage(codePage);
    if (codePage == CP_UTF8) return {Route::utf8};
    const CodePageName* cp = findCodePage(codePage);
    if (cp == nullptr) return {};
    if (cp->singleByte) {
        const SingleByteTable* table = singleByteTable(*cp);
        return table ? Route{Route::singleByte, cp, table} : Route{};
    }
    return multiByteIconvUsable(*cp) ? Route{Route::iconv, cp} : Route{};
}

// Every event and property text asks, often a million times a second, and
// the answer for a page never changes once found (tables live as long as the
// process), so each thread keeps its last answer.
Route routeFor(unsigned codePage) {
    thread_local unsigned lastPage = 0;
    thread_local Route lastRoute;
    if (lastRoute.kind != Route::unknown && codePage == lastPage) return lastRoute;
    const Route route = findRoute(codePage);
    if (route.kind != Route::unknown) {
        lastPage = codePage;
        lastRoute = route;
    }
    return route;
}

// Encodes into a single-byte page: false (strict mode) at the first
// character the page cannot hold.
bool encodeSingleBytes(const SingleByteTable& table, std::u16string_view text, bool strict, NarrowResult& result) {
    // Every character is at most one byte: the result fits in text.size().
    result.text.resize(text.size());
    char* const out = result.text.data();
    std::size_t w = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (table.asciiIdentity && text[i] < 0x80) {
            const std::size_t run = detail::narrowAscii(text.data() + i, text.size() - i, out + w);
            w += run;
            i += run - 1;
            continue;
        }
        const auto it = table.toByte.find(text[i]);
        if (it != table.toByte.end()) {
            out[w++] = static_cast<char>(it->second);
            continue;
        }
        if (strict) return false;
        // A surrogate pair is one character and so one default character.
        if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            ++i;
        }
        out[w++] = kDefaultChar;
        result.usedDefaultChar = true;
    }
    result.text.resize(w);
    return true;
}

}  // namespace

std::optional<std::string_view> iconvName(unsigned codePage) {
    codePage = resolveCodePage(codePage);
    if (codePage == CP_UTF8) return std::string_view("UTF-8");
    const CodePageName* cp = findCodePage(codePage);
    if (cp == nullptr) return std::nullopt;
    return std::string_view(cp->iconv);
}

bool isValidCodePage(unsigned codePage) { return routeFor(codePage).kind != Route::unknown; }

bool widenOneToOne(unsigned codePage, std::string_view bytes, char16_t* out) {
    const Route route = routeFor(codePage);
    if (route.kind == Route::utf8) {
        return detail::widenAscii(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), out) ==
               bytes.size();
    }
    if (route.kind != Route::singleByte) return false;
    decodeSingleBytes(*route.table, bytes, out);
    return true;
}

bool narrowAsciiText(unsigned codePage, std::u16string_view text, char* out) {
    const Route route = routeFor(codePage);
    const bool keepsAscii = route.kind == Route::utf8 || (route.kind == Route::singleByte && route.table->asciiIdentity);
    return keepsAscii && detail::narrowAscii(text.data(), text.size(), out) == text.size();
}

WideResult multiByteToWide(unsigned codePage, std::string_view bytes, ConversionMode mode) {
    WideResult result;
    const bool strict = mode == ConversionMode::strict;
    const Route route = routeFor(codePage);
    bool ok = true;
    switch (route.kind) {
        case Route::unknown: result.status = ConversionStatus::unknownCodePage; return result;
        case Route::utf8: ok = detail::decodeUtf8(bytes, result.text, strict); break;
        case Route::singleByte:
            result.text.resize(bytes.size());
            ok = decodeSingleBytes(*route.table, bytes, result.text.data()) || !strict;
            break;
        case Route::iconv: {
            bool replaced = false;
            const char16_t replacement = kReplacement;
            ok = runIconv(route.cp->iconv, "UTF-16LE", bytes.data(), bytes.size(), 1, strict, result.text, &replacement,
                          1, replaced);
            break;
        }
    }
    if (!ok) {
        result.text.clear();
        result.status = ConversionStatus::invalidInput;
    }
    return result;
}

NarrowResult wideToMultiByte(unsigned codePage, std::u16string_view text, ConversionMode mode) {
    NarrowResult result;
    const bool strict = mode == ConversionMode::strict;
    const Route route = routeFor(codePage);
    bool ok = true;
    switch (route.kind) {
        case Route::unknown: result.status = ConversionStatus::unknownCodePage; return result;
        case Route::utf8: ok = detail::encodeUtf8(text, result.text, strict); break;
        case Route::singleByte: ok = encodeSingleBytes(*route.table, text, strict, result); break;
        case Route::iconv: {
            const char replacement = kDefaultChar;
            ok = runIconv("UTF-16LE", route.cp->iconv, reinterpret_cast<const char*>(text.data()), text.size() * 2, 2,
                          strict, result.text, &replacement, 1, result.usedDefaultChar);
            break;
        }
    }
    if (!ok) {
        result.text.clear();
        result.usedDefaultChar = false;
        result.status = ConversionStatus::invalidInput;
    }
    return result;
}

std::u16string utf8ToUtf16(std::string_view bytes) {
    std::u16string out;
    detail::decodeUtf8(bytes, out, false);
    return out;
}

std::string utf16ToUtf8(std::u16string_view text) {
    std::string out;
    detail::encodeUtf8(text, out, false);
    return out;
}

}  // namespace codepage
