// Flattens a simulator's JSON-shaped message into key/value rows.
//
// The simulators write their messages to suit this flattening; it is not a
// JSON parser and must not become one: nesting is dropped, blanks stay in
// values, and a few fixed words are cut out wherever they stand.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace taltrix {

struct PairRow {
    std::string key;
    std::string value;
};

using PairTable = std::vector<PairRow>;

class PairSplitter {
public:
    static PairTable split(std::string_view text);
};

// Replaces every occurrence of `from` in `text`, left to right, without
// looking again at what was put in.
void replaceAll(std::string& text, std::string_view from, std::string_view to);

}  // namespace taltrix
