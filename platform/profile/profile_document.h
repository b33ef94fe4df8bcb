// An INI file held as its lines, with the lookup and edit rules of the
// private-profile functions.
//
// The file is 8-bit text in the ANSI code page (Windows-1252); bytes are kept
// exactly as read, so a file written by the other platform comes back
// byte for byte except for the one line an edit touches. Lines we add end in
// CR LF; a line we keep keeps whatever end it had (CR LF, LF or none).
//
// Rules, as the settings code relies on them:
// - "[name]" opens a section; blanks around the brackets and inside them
//   around the name do not count. Lines before the first header belong to
//   no section and are never matched.
// - "name=value" is a key line; blanks around the name and the value do not
//   count. A line whose first non-blank character is ';' is a comment, and a
//   line without '=' is kept but never matched.
// - Section and key names are compared without regard to letter case, with
//   the letters of Windows-1252 folded as that code page pairs them.
// - The first matching section and the first matching key in it win.
// - A value wrapped in a pair of matching quotes (' or ") is read without them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::profile {

// True when a and b are the same name apart from letter case (Windows-1252).
bool sameName(std::string_view a, std::string_view b);

class ProfileDocument {
public:
    ProfileDocument() = default;
    // Splits bytes into lines. Never fails: any byte sequence is some file.
    explicit ProfileDocument(std::string_view bytes);

    // The value of key in section, blanks and one pair of quotes removed;
    // nothing when the section or key is absent.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    // Section names in file order (duplicates once) and the key names of the
    // first matching section in file order.
    std::vector<std::string> sectionNames() const;
    std::vector<std::string> keyNames(std::string_view section) const;

    // Sets key to value, adding the key at the end of the section's keys or
    // a new section at the end of the file when they are missing. The name
    // already in the file keeps its spelling.
    void setValue(std::string_view section, std::string_view key, std::string_view value);
    // Removes the first matching key line; false when there was none.
    bool removeKey(std::string_view section, std::string_view key);
    // Removes the first matching section with all its lines; false when absent.
    bool removeSection(std::string_view section);

    std::string bytes() const;

private:
    struct Line {
        std::string text;  // without its line end
        std::string end;   // "\r\n", "\n", "\r" or "" for a last line without one
    };
    struct Span {
        std::size_t header;  // index of the "[name]" line
        std::size_t end;     // one past the section's last line
    };

    std::optional<Span> findSection(std::string_view section) const;
    std::optional<std::size_t> findKey(const Span& span, std::string_view key) const;
    void insertLine(std::size_t at, std::string text);

    std::vector<Line> lines_;
};

}  // namespace platform::profile
