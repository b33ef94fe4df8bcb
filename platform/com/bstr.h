// BSTR: a length-prefixed UTF-16 string with a terminating zero, allocated by
// the runtime and freed by whoever owns it under the automation rules (an [in]
// BSTR is borrowed, an [out] or [retval] BSTR belongs to the caller).
//
// The 32-bit byte count sits just before the characters; the text may hold
// zero characters, so its length is SysStringLen, not the first zero. A null
// BSTR is a valid empty string everywhere.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "platform/com/hresult.h"

BSTR SysAllocString(const OLECHAR* text);
// `text` may be null: the string is then `length` zero characters.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
// A BSTR holding `length` raw bytes (plus a zero OLECHAR after them).
BSTR SysAllocStringByteLen(const char* bytes, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);
// Both return TRUE on success; `text` may point into *target.
INT SysReAllocString(BSTR* target, const OLECHAR* text);
INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length);

namespace com {

// The characters of a BSTR, embedded zeros included.
inline std::u16string_view bstrView(BSTR text) {
    return text == nullptr ? std::u16string_view() : std::u16string_view(text, SysStringLen(text));
}

// Null only when memory runs out (an empty view gives an empty, non-null BSTR).
BSTR allocBstr(std::u16string_view text);

// A BSTR of `length` characters whose content the caller writes at once
// (Windows leaves SysAllocStringLen(NULL, n) unfilled too; this form is the
// one that says so). Null when memory runs out or the length is too large.
BSTR allocBstrUnfilled(std::size_t length);

// Owns one BSTR.
class BStr {
public:
    BStr() = default;
    explicit BStr(std::u16string_view text) : s_(allocBstr(text)) {}
    static BStr attach(BSTR text) {
        BStr result;
        result.s_ = text;
        return result;
    }
    BStr(const BStr& other)
        : s_(other.s_ ? SysAllocStringByteLen(reinterpret_cast<const char*>(other.s_), SysStringByteLen(other.s_))
                      : nullptr) {}
    BStr(BStr&& other) noexcept : s_(std::exchange(other.s_, nullptr)) {}
    BStr& operator=(BStr other) noexcept {
        std::swap(s_, other.s_);
        return *this;
    }
    ~BStr() { SysFreeString(s_); }

    BSTR get() const { return s_; }
    // For [out] parameters: frees what is held and lends the slot.
    BSTR* put() {
        reset();
        return &s_;
    }
    BSTR detach() { return std::exchange(s_, nullptr); }
    void reset() { SysFreeString(std::exchange(s_, nullptr)); }

    std::u16string_view view() const { return bstrView(s_); }
    UINT length() const { return SysStringLen(s_); }
    bool empty() const { return length() == 0; }

private:
    BSTR s_ = nullptr;
};

}  // namespace com
