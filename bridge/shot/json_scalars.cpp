#include "bridge/shot/json_scalars.h"

#include <charconv>
#include <cmath>

namespace taltrix {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

// A recursive descent over the text, one value at a time. Every function
// returns false as soon as the text stops being JSON; the caller then gives
// up on the whole text.
class JsonScalarReader {
public:
    JsonScalarReader(std::string_view text, JsonScalars& out) : text_(text), out_(out) {}

    bool readDocument() {
        skipBlanks();
        out_.object_ = at() == '{';
        std::string path;
        if (!readValue(path, 0)) return false;
        skipBlanks();
        return pos_ == text_.size();
    }

private:
    char at() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
    bool atEnd() const { return pos_ >= text_.size(); }

    void skipBlanks() {
        while (!atEnd() && (at() == ' ' || at() == '\t' || at() == '\r' || at() == '\n')) ++pos_;
    }

    bool expect(char c) {
        skipBlanks();
        if (atEnd() || at() != c) return false;
        ++pos_;
        return true;
    }

    void keep(const std::string& path, JsonScalar value) { out_.values_.emplace_back(path, std::move(value)); }

    bool readValue(std::string& path, int depth) {
        skipBlanks();
        if (atEnd()) return false;
        const char c = at();
        if (c == '{') return readObject(path, depth + 1);
        if (c == '[') return readArray(depth + 1);
        JsonScalar value;
        if (c == '"') {
            value.kind = JsonScalar::Kind::string;
            if (!readString(value.text)) return false;
        } else if (c == '-' || isDigit(c)) {
            value.kind = JsonScalar::Kind::number;
            if (!readNumber(value)) return false;
        } else if (!readWord(value)) {
            return false;
        }
        if (!inArray_) keep(path, std::move(value));
        return true;
    }

    bool readObject(std::string& path, int depth) {
        if (depth > JsonScalars::maxDepth) return false;
        ++pos_;  // '{'
        skipBlanks();
        if (at() == '}') {
            ++pos_;
            return true;
        }
        const std::size_t base = path.size();
        for (;;) {
            skipBlanks();
            if (at() != '"') return false;
            std::string key;
            if (!readString(key)) return false;
            if (!expect(':')) return false;
            if (base != 0) path.push_back('.');
            path.append(key);
            const bool read = readValue(path, depth);
            path.resize(base);
            if (!read) return false;
            skipBlanks();
            if (at() == ',') {
                ++pos_;
                continue;
            }
            return expect('}');
        }
    }

    bool readArray(int depth) {
        if (depth > JsonScalars::maxDepth) return false;
        ++pos_;  // '['
        skipBlanks();
        if (at() == ']') {
            ++pos_;
            return true;
        }
        // Elements are checked, not kept: an object inside an array would
        // otherwise put its keys under the array's path.
        const bool outer = inArray_;
        inArray_ = true;
        std::string unused;
        bool ok = true;
        for (;;) {
            if (!readValue(unused, depth)) {
                ok = false;
                break;
            }
            skipBlanks();
            if (at() == ',') {
                ++pos_;
                continue;
            }
            ok = expect(']');
            break;
        }
        inArray_ = outer;
        return ok;
    }

    bool readString(std::string& out) {
        ++pos_;  // opening quote
        while (!atEnd()) {
            const char c = text_[pos_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;  // raw control characters are not JSON
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (atEnd()) return false;
            const char e = text_[pos_++];
            switch (e) {
                case '"': out.push_back('"'); break;
                case '\\': out.push_back('\\'); break;
                case '/': out.push_back('/'); break;
                case 'b': out.push_back('\b'); break;
                case 'f': out.push_back('\f'); break;
                case 'n': out.push_back('\n'); break;
                case 'r': out.push_back('\r'); break;
                case 't': out.push_back('\t'); break;
                case 'u': {
                    if (text_.size() - pos_ < 4) return false;
                    int code = 0;
                    for (int i = 0; i < 4; ++i) {
                        const int h = hexValue(text_[pos_++]);
                        if (h < 0) return false;
                        code = code * 16 + h;
                    }
                    // Our text is one byte per character: what fits is kept,
                    // the rest is shown as a question mark.
                    out.push_back(code < 0x100 ? static_cast<char>(code) : '?');
                    break;
                }
                default: return false;
            }
        }
        return false;  // no closing quote
    }

    bool readNumber(JsonScalar& value) {
        const std::size_t start = pos_;
        if (at() == '-') ++pos_;
        if (at() == '0') {
            ++pos_;
        } else if (isDigit(at())) {
            while (isDigit(at())) ++pos_;
        } else {
            return false;
        }
        if (at() == '.') {
            ++pos_;
            if (!isDigit(at())) return false;
            while (isDigit(at())) ++pos_;
        }
        if (at() == 'e' || at() == 'E') {
            ++pos_;
            if (at() == '+' || at() == '-') ++pos_;
            if (!isDigit(at())) return false;
            while (isDigit(at())) ++pos_;
        }
        value.text.assign(text_.substr(start, pos_ - start));
        const auto [end, ec] = std::from_chars(value.text.data(), value.text.data() + value.text.size(), value.number);
        return ec == std::errc() && end == value.text.data() + value.text.size() && std::isfinite(value.number);
    }

    bool readWord(JsonScalar& value) {
        for (const std::string_view word : {"true", "false", "null"}) {
            if (text_.substr(pos_, word.size()) == word) {
                pos_ += word.size();
                value.kind = word == "null" ? JsonScalar::Kind::null : JsonScalar::Kind::boolean;
                value.text.assign(word);
                return true;
            }
        }
        return false;
    }

    std::string_view text_;
    JsonScalars& out_;
    std::size_t pos_ = 0;
    bool inArray_ = false;
};

std::optional<JsonScalars> JsonScalars::read(std::string_view text) {
    JsonScalars scalars;
    JsonScalarReader reader(text, scalars);
    if (!reader.readDocument()) return std::nullopt;
    return scalars;
}

const JsonScalar* JsonScalars::find(std::string_view path) const {
    for (auto it = values_.rbegin(); it != values_.rend(); ++it) {
        if (it->first == path) return &it->second;
    }
    return nullptr;
}

}  // namespace taltrix
