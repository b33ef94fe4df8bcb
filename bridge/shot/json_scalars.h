// Reads one JSON text into the scalar values it holds, each under its path.
//
// Open Connect simulators answer in real JSON, and the bridge wants only a
// few values out of small objects; a tree would be more than that takes.
// Every string, number, true, false and null is kept under the keys that
// lead to it, joined by "." ("Player.Club"). Arrays are walked but their
// elements are not kept: nothing the bridge reads lives in one.
//
// The reader is bounded: it refuses nesting deeper than maxDepth and
// allocates only for what it has actually read.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace taltrix {

struct JsonScalar {
    enum class Kind { string, number, boolean, null };
    Kind kind = Kind::null;
    // A string's characters with its escapes resolved; otherwise the value
    // as it was written (a number's digits, true, false, null).
    std::string text;
    double number = 0;  // numbers only
};

class JsonScalars {
public:
    static constexpr int maxDepth = 16;

    // Nothing when the text is not exactly one JSON value (blanks around it
    // allowed). A \u escape becomes its character when that is below 256
    // (our text is 8-bit) and "?" otherwise. A number beyond a double's
    // range is refused.
    static std::optional<JsonScalars> read(std::string_view text);

    // The value under a path; for a key given twice, the later one.
    const JsonScalar* find(std::string_view path) const;
    // Whether the whole text is an object, as every Open Connect reply is.
    bool isObject() const { return object_; }
    std::size_t size() const { return values_.size(); }

private:
    friend class JsonScalarReader;

    std::vector<std::pair<std::string, JsonScalar>> values_;
    bool object_ = false;
};

}  // namespace taltrix
