#include "bridge/shot/pair_splitter.h"

#include "bridge/shot/text_filters.h"

namespace taltrix {

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
    if (from.empty()) return;
    std::size_t at = text.find(from);
    if (at == std::string::npos) return;
    std::string out;
    out.reserve(text.size());
    std::size_t done = 0;
    for (; at != std::string::npos; at = text.find(from, done)) {
        out.append(text, done, at - done);
        out.append(to);
        done = at + from.size();
    }
    out.append(text, done, std::string::npos);
    text = std::move(out);
}

PairTable PairSplitter::split(std::string_view input) {
    std::string text = filterPrintable(input);
    replaceAll(text, "#json ", "");
    replaceAll(text, "{", "");
    replaceAll(text, "}", "");
    replaceAll(text, "\", \"", "#");
    replaceAll(text, "\",\"", "#");
    replaceAll(text, ",\"", "#");
    replaceAll(text, "\"", "");
    for (const std::string_view word : {"data:", "DATA:", "info:", "INFO:"}) replaceAll(text, word, "");

    PairTable table;
    if (text.empty()) return table;
    // The first pair decides how many columns the table has; with a single
    // column there is no room for values at all.
    bool haveValues = true;
    std::size_t pairStart = 0;
    for (;;) {
        const std::size_t pairEnd = text.find('#', pairStart);
        const std::string_view pair = std::string_view(text).substr(
            pairStart, pairEnd == std::string::npos ? std::string::npos : pairEnd - pairStart);
        const std::size_t colon = pair.find(':');
        if (table.empty()) haveValues = colon != std::string_view::npos;
        PairRow row;
        row.key = std::string(pair.substr(0, colon));
        if (haveValues && colon != std::string_view::npos) {
            const std::string_view rest = pair.substr(colon + 1);
            row.value = std::string(rest.substr(0, rest.find(':')));
        }
        table.push_back(std::move(row));
        if (pairEnd == std::string::npos) break;
        pairStart = pairEnd + 1;
    }
    return table;
}

}  // namespace taltrix
