#include "bridge/shot/text_filters.h"

#include <array>

namespace taltrix {

namespace {

struct CharTable {
    std::array<bool, 256> shot{};
    std::array<bool, 256> printable{};
    constexpr CharTable() {
        for (const char c : shotCharset) shot[static_cast<unsigned char>(c)] = true;
        for (int code = 32; code <= 126; ++code) printable[static_cast<std::size_t>(code)] = true;
        for (int code = 128; code <= 167; ++code) printable[static_cast<std::size_t>(code)] = true;
    }
};

constexpr CharTable table;

}  // namespace

void appendShotCharset(std::string& out, std::string_view text) {
    const std::size_t before = out.size();
    out.resize(before + text.size());
    char* to = out.data() + before;
    for (const char c : text) {
        *to = c;
        to += table.shot[static_cast<unsigned char>(c)] ? 1 : 0;
    }
    out.resize(static_cast<std::size_t>(to - out.data()));
}

std::string filterShotCharset(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    appendShotCharset(out, text);
    return out;
}

std::string filterPrintable(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(' ');
    text = text.substr(first, last - first + 1);

    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (table.printable[static_cast<unsigned char>(c)]) out.push_back(c);
    }
    return out;
}

}  // namespace taltrix
