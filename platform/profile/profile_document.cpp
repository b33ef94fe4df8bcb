#include "platform/profile/profile_document.h"

#include <algorithm>

namespace platform::profile {

namespace {

constexpr std::string_view crlf = "\r\n";

unsigned char foldCase(unsigned char c) {
    if (c >= 'A' && c <= 'Z') {
        return static_cast<unsigned char>(c + 0x20);
    }
    // Windows-1252 pairs: the Latin-1 block, plus S/Z with caron, OE and Y with
    // diaeresis, which that code page moved into 0x80-0x9F.
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) {
        return static_cast<unsigned char>(c + 0x20);
    }
    switch (c) {
        case 0x8A: return 0x9A;
        case 0x8C: return 0x9C;
        case 0x8E: return 0x9E;
        case 0x9F: return 0xFF;
        default: return c;
    }
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && isBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::optional<std::string_view> sectionHeader(std::string_view line) {
    const std::string_view t = trim(line);
    if (t.empty() || t.front() != '[') {
        return std::nullopt;
    }
    const std::size_t close = t.find(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return trim(t.substr(1, close - 1));
}

struct KeyLine {
    std::string_view name;
    std::string_view value;
};

std::optional<KeyLine> keyLine(std::string_view line) {
    const std::string_view t = trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '[') {
        return std::nullopt;
    }
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    return KeyLine{trim(t.substr(0, eq)), trim(t.substr(eq + 1))};
}

std::string_view unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

}  // namespace

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return foldCase(static_cast<unsigned char>(x)) == foldCase(static_cast<unsigned char>(y));
           });
}

ProfileDocument::ProfileDocument(std::string_view bytes) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t stop = bytes.find_first_of("\r\n", pos);
        if (stop == std::string_view::npos) {
            lines_.push_back({std::string(bytes.substr(pos)), ""});
            break;
        }
        std::size_t next = stop + 1;
        if (bytes[stop] == '\r' && next < bytes.size() && bytes[next] == '\n') {
            ++next;
        }
        lines_.push_back({std::string(bytes.substr(pos, stop - pos)), std::string(bytes.substr(stop, next - stop))});
        pos = next;
    }
}

std::optional<ProfileDocument::Span> ProfileDocument::findSection(std::string_view section) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const auto name = sectionHeader(lines_[i].text);
        if (!name || !sameName(*name, section)) {
            continue;
        }
        std::size_t end = i + 1;
        while (end < lines_.size() && !sectionHeader(lines_[end].text)) {
            ++end;
        }
        return Span{i, end};
    }
    return std::nullopt;
}

std::optional<std::size_t> ProfileDocument::findKey(const Span& span, std::string_view key) const {
    for (std::size_t i = span.header + 1; i < span.end; ++i) {
        const auto kv = keyLine(lines_[i].text);
        if (kv && sameName(kv->name, key)) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::string> ProfileDocument::value(std::string_view section, std::string_view key) const {
    const auto span = findSection(section);
    if (!span) {
        return std::nullopt;
    }
    const auto at = findKey(*span, key);
    if (!at) {
        return std::nullopt;
    }
    return std::string(unquote(keyLine(lines_[*at].text)->value));
}

std::vector<std::string> ProfileDocument::sectionNames() const {
    std::vector<std::string> names;
    for (const Line& line : lines_) {
        const auto name = sectionHeader(line.text);
        if (name &&
            std::none_of(names.begin(), names.end(), [&](const std::string& n) { return sameName(n, *name); })) {
            names.emplace_back(*name);
        }
    }
    return names;
}

std::vector<std::string> ProfileDocument::keyNames(std::string_view section) const {
    std::vector<std::string> names;
    if (const auto span = findSection(section)) {
        for (std::size_t i = span->header + 1; i < span->end; ++i) {
            if (const auto kv = keyLine(lines_[i].text)) {
                names.emplace_back(kv->name);
            }
        }
    }
    return names;
}

void ProfileDocument::insertLine(std::size_t at, std::string text) {
    if (at > 0 && lines_[at - 1].end.empty()) {
        lines_[at - 1].end = crlf;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), Line{std::move(text), std::string(crlf)});
}

void ProfileDocument::setValue(std::string_view section, std::string_view key, std::string_view value) {
    const auto span = findSection(section);
    if (!span) {
        insertLine(lines_.size(), "[" + std::string(section) + "]");
        insertLine(lines_.size(), std::string(key) + "=" + std::string(value));
        return;
    }
    if (const auto at = findKey(*span, key)) {
        const std::string name(keyLine(lines_[*at].text)->name);
        lines_[*at].text = name + "=" + std::string(value);
        return;
    }
    // A new key goes after the section's last non-blank line, so that the
    // blank lines separating it from the next section stay where they are.
    std::size_t at = span->end;
    while (at > span->header + 1 && trim(lines_[at - 1].text).empty()) {
        --at;
    }
    insertLine(at, std::string(key) + "=" + std::string(value));
}

bool ProfileDocument::removeKey(std::string_view section, std::string_view key) {
    const auto span = findSection(section);
    if (!span) {
        return false;
    }
    const auto at = findKey(*span, key);
    if (!at) {
        return false;
    }
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*at));
    return true;
}

bool ProfileDocument::removeSection(std::string_view section) {
    const auto span = findSection(section);
    if (!span) {
        return false;
    }
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(span->header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(span->end));
    return true;
}

std::string ProfileDocument::bytes() const {
    std::string out;
    for (const Line& line : lines_) {
        out += line.text;
        out += line.end;
    }
    return out;
}

}  // namespace platform::profile
