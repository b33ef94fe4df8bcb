// One registry hive held in memory and stored as a text file.
//
// The file is line-based and meant to be read and edited by people:
//
//   ; comment
//   [CLSID\{6B29FC40-CA47-1067-B31D-00DD010662DA}\InprocServer32]
//   @="/usr/lib/libwidget.so"
//   "ThreadingModel"="Apartment"
//   "Count"=dword:0000002a
//
// A "[path]" line opens a key (creating every key on the path); the lines
// after it set its values: @ is the default value, a quoted name any other.
// Strings are in double quotes with the escapes \\ \" \n \r \t and \xHH;
// numbers are dword: with 1 to 8 hex digits. Key and value names compare
// without regard to ASCII case and keep the case they were written in. Text is
// kept as the bytes given (UTF-8 by convention).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/types.h"

namespace com::registry {

struct CaseInsensitiveLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

struct Value {
    enum class Type { string, dword };
    Type type = Type::string;
    std::string text;
    DWORD number = 0;

    static Value string(std::string s) { return {Type::string, std::move(s), 0}; }
    static Value dword(DWORD n) { return {Type::dword, {}, n}; }
    friend bool operator==(const Value&, const Value&) = default;
};

struct Key {
    std::map<std::string, std::unique_ptr<Key>, CaseInsensitiveLess> subkeys;
    std::map<std::string, Value, CaseInsensitiveLess> values;  // "" is the default value
};

// Limits of what a hive accepts, from files or from callers.
inline constexpr std::size_t kMaxNameLength = 255;
inline constexpr std::size_t kMaxDepth = 64;
inline constexpr std::size_t kMaxFileSize = 16 * 1024 * 1024;

class Hive {
public:
    // Reads the text form. On failure returns nothing and sets `error` to
    // "line N: reason".
    static std::optional<Hive> parse(std::string_view text, std::string* error = nullptr);
    std::string serialize() const;

    // Paths are key names joined by backslashes; "" is the hive's root.
    bool createKey(std::string_view path);
    bool keyExists(std::string_view path) const;
    bool setValue(std::string_view path, std::string_view name, Value value);
    bool setString(std::string_view path, std::string_view name, std::string_view text) {
        return setValue(path, name, Value::string(std::string(text)));
    }
    bool setDword(std::string_view path, std::string_view name, DWORD number) {
        return setValue(path, name, Value::dword(number));
    }
    std::optional<Value> queryValue(std::string_view path, std::string_view name = {}) const;
    // The string value, or nothing when absent or not a string.
    std::optional<std::string> queryString(std::string_view path, std::string_view name = {}) const;
    bool deleteValue(std::string_view path, std::string_view name);
    // Removes the key and everything below it; false when there was none.
    bool deleteTree(std::string_view path);
    std::vector<std::string> enumKeys(std::string_view path) const;
    std::vector<std::pair<std::string, Value>> enumValues(std::string_view path) const;

    // A missing file is an empty hive. Errors as in parse, or the system's.
    static std::optional<Hive> load(const std::string& file, std::string* error = nullptr);
    // Writes a temporary file beside `file` and renames it over, so readers see
    // the old or the new hive and never half of one. Creates missing folders.
    bool save(const std::string& file, std::string* error = nullptr) const;
    // Load, change, save, holding an exclusive lock ("<file>.lock") so that two
    // processes registering at once do not lose each other's keys. `change`
    // returns false to leave the file alone.
    static bool update(const std::string& file, const std::function<bool(Hive&)>& change, std::string* error = nullptr);

private:
    const Key* find(std::string_view path) const;
    Key* findOrCreate(std::string_view path);

    Key root_;
};

// Splits "A\B\C"; nothing when a name is empty, too long, or the path too deep.
std::optional<std::vector<std::string_view>> splitPath(std::string_view path);

}  // namespace com::registry
