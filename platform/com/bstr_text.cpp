#include "platform/com/bstr_text.h"

#include "platform/text/code_page.h"

namespace com {

std::string multiByteFromBstr(BSTR text, unsigned codePage, BstrExtent extent) {
    std::u16string_view view = bstrView(text);
    if (extent == BstrExtent::toFirstZero) view = view.substr(0, view.find(u'\0'));
    return codepage::wideToMultiByte(codePage, view).text;
}

BSTR bstrFromMultiByte(std::string_view bytes, unsigned codePage) {
    const codepage::WideResult wide = codepage::multiByteToWide(codePage, bytes);
    if (!wide.ok()) return nullptr;
    return allocBstr(wide.text);
}

std::string utf8FromBstr(BSTR text) { return codepage::utf16ToUtf8(bstrView(text)); }

BSTR bstrFromUtf8(std::string_view bytes) { return allocBstr(codepage::utf8ToUtf16(bytes)); }

}  // namespace com
