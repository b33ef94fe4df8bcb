// Case-blind comparison of protocol and setting names: HTTP field names,
// schemes, tokens and Config names all compare their ASCII letters without
// regard to case and every other byte exactly, whatever the locale. And the
// blanks (spaces and tabs) that header values, lists and settings are
// trimmed of.
#pragma once

#include <cstddef>
#include <string_view>

namespace morvane {

constexpr char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

constexpr bool isBlankAscii(char c) { return c == ' ' || c == '\t'; }

// `text` without the spaces and tabs around it.
constexpr std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlankAscii(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlankAscii(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace morvane
