#include <new>

#include "platform/com/bstr.h"
#include "platform/com/persist.h"
#include "platform/text/code_page.h"

namespace com {
namespace {

char16_t lowered(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool sameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowered(a[i]) != lowered(b[i])) return false;
    }
    return true;
}

void escapeInto(std::string& out, std::string_view text) {
    for (const char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
}

bool unescape(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return false;
        switch (text[i]) {
            case '\\': out += '\\'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            default: return false;
        }
    }
    return true;
}

bool strictUtf16(std::string_view bytes, std::u16string& out) {
    codepage::WideResult wide = codepage::multiByteToWide(65001, bytes, codepage::ConversionMode::strict);
    if (!wide.ok()) return false;
    out = std::move(wide.text);
    return true;
}

}  // namespace

IUnknown* MemoryPropertyBag::findInterface(REFIID iid) {
    if (iid == IID_IPropertyBag) return static_cast<IPropertyBag*>(this);
    return nullptr;
}

MemoryPropertyBag::Entry* MemoryPropertyBag::find(std::u16string_view name) {
    for (Entry& entry : entries_) {
        if (sameName(entry.first, name)) return &entry;
    }
    return nullptr;
}

HRESULT MemoryPropertyBag::Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) {
    if (name == nullptr || value == nullptr) return E_POINTER;
    const Entry* entry = find(name);
    if (entry == nullptr) return E_INVALIDARG;
    const VARTYPE wanted = value->vt;
    Variant result;
    HRESULT hr = wanted == VT_EMPTY ? VariantCopy(&result, &entry->second)
                                    : VariantChangeType(&result, &entry->second, 0, wanted);
    if (FAILED(hr)) {
        if (log != nullptr) {
            ExcepInfo error;
            error.scode = hr;
            error.bstrSource = allocBstr(u"PropertyBag");
            error.bstrDescription = allocBstr(u"The stored value cannot be read as the type asked for.");
            log->AddError(name, &error);
        }
        return E_FAIL;
    }
    VariantClear(value);
    *value = result.detach();
    return S_OK;
}

HRESULT MemoryPropertyBag::Write(LPCOLESTR name, VARIANT* value) {
    if (name == nullptr || value == nullptr) return E_POINTER;
    try {
        Variant copy;
        if (HRESULT hr = VariantCopyInd(&copy, value); FAILED(hr)) return hr;
        if (Entry* entry = find(name)) {
            entry->second = std::move(copy);
        } else {
            entries_.emplace_back(std::u16string(name), std::move(copy));
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT MemoryPropertyBag::toText(std::string& text) const {
    text.clear();
    for (const Entry& entry : entries_) {
        Variant asText;
        if (FAILED(VariantChangeType(&asText, &entry.second, VARIANT_ALPHABOOL, VT_BSTR))) return E_FAIL;
        escapeInto(text, codepage::utf16ToUtf8(entry.first));
        text += '=';
        escapeInto(text, codepage::utf16ToUtf8(bstrView(asText.bstrVal)));
        text += '\n';
    }
    return S_OK;
}

HRESULT MemoryPropertyBag::fromText(std::string_view text, std::size_t* badLine) {
    std::vector<Entry> read;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        // Files edited on another system may end their lines with CR LF.
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        const std::size_t equals = line.find('=');
        std::string name;
        std::string value;
        std::u16string wideName;
        std::u16string wideValue;
        if (equals == std::string_view::npos || equals == 0 || !unescape(line.substr(0, equals), name) ||
            !unescape(line.substr(equals + 1), value) || !strictUtf16(name, wideName) ||
            !strictUtf16(value, wideValue)) {
            if (badLine) *badLine = lineNumber;
            return DISP_E_TYPEMISMATCH;
        }
        read.emplace_back(std::move(wideName), Variant(std::u16string_view(wideValue)));
    }
    entries_.clear();
    for (Entry& entry : read) {
        if (Entry* existing = find(entry.first)) {
            existing->second = std::move(entry.second);
        } else {
            entries_.push_back(std::move(entry));
        }
    }
    return S_OK;
}

MemoryPropertyBag* newMemoryPropertyBag() {
    auto* bag = new MemoryPropertyBag();
    bag->innerUnknown()->AddRef();
    return bag;
}

}  // namespace com
