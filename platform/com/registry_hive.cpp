#include "platform/com/registry_hive.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace com::registry {

namespace {

constexpr std::string_view kHeader = "; Taltrix component registry hive\n";

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool validName(std::string_view name) {
    if (name.size() > kMaxNameLength) return false;
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    }
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string quote(std::string_view text) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (u < 0x20 || u == 0x7F) {
                    out += "\\x";
                    out += kHex[u >> 4];
                    out += kHex[u & 0xF];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

// Reads a quoted string at the start of `s`; advances `s` past it.
bool readQuoted(std::string_view& s, std::string& out) {
    if (s.empty() || s.front() != '"') return false;
    out.clear();
    std::size_t i = 1;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '"') {
            s.remove_prefix(i + 1);
            return true;
        }
        if (c != '\\') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 >= s.size()) return false;
        const char e = s[i + 1];
        i += 2;
        switch (e) {
            case '\\': out += '\\'; break;
            case '"': out += '"'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'x': {
                if (i + 1 >= s.size()) return false;
                const int high = hexDigit(s[i]);
                const int low = hexDigit(s[i + 1]);
                if (high < 0 || low < 0) return false;
                out += static_cast<char>(high * 16 + low);
                i += 2;
                break;
            }
            default: return false;
        }
    }
    return false;
}

std::string_view trimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::string_view trimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    return s;
}

void serializeKey(const Key& key, std::string& path, std::string& out) {
    if (!path.empty() && (!key.values.empty() || key.subkeys.empty())) {
        out += '\n';
        out += '[';
        out += path;
        out += "]\n";
        for (const auto& [name, value] : key.values) {
            out += name.empty() ? std::string("@") : quote(name);
            out += '=';
            if (value.type == Value::Type::dword) {
                char number[16];
                std::snprintf(number, sizeof number, "dword:%08x", value.number);
                out += number;
            } else {
                out += quote(value.text);
            }
            out += '\n';
        }
    }
    for (const auto& [name, child] : key.subkeys) {
        const std::size_t length = path.size();
        if (!path.empty()) path += '\\';
        path += name;
        serializeKey(*child, path, out);
        path.resize(length);
    }
}

void setError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

std::string systemError(const std::string& what, const std::string& file) {
    return what + " " + file + ": " + std::strerror(errno);
}

class FileLock {
public:
    explicit FileLock(const std::string& path) : fd_(::open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644)) {
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    bool held() const { return fd_ >= 0; }

private:
    int fd_;
};

bool makeParentFolders(const std::string& file, std::string* error) {
    const std::filesystem::path parent = std::filesystem::path(file).parent_path();
    if (parent.empty()) return true;
    std::error_code ec;
    std::filesystem::create_directories(parent, ec);
    if (ec) {
        setError(error, "cannot create " + parent.string() + ": " + ec.message());
        return false;
    }
    return true;
}

}  // namespace

bool CaseInsensitiveLess::operator()(std::string_view a, std::string_view b) const {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char x = fold(a[i]);
        const char y = fold(b[i]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    return a.size() < b.size();
}

std::optional<std::vector<std::string_view>> splitPath(std::string_view path) {
    std::vector<std::string_view> parts;
    if (path.empty()) return parts;
    while (true) {
        const std::size_t slash = path.find('\\');
        const std::string_view part = path.substr(0, slash);
        if (part.empty() || !validName(part)) return std::nullopt;
        parts.push_back(part);
        if (parts.size() > kMaxDepth) return std::nullopt;
        if (slash == std::string_view::npos) return parts;
        path.remove_prefix(slash + 1);
    }
}

const Key* Hive::find(std::string_view path) const {
    const auto parts = splitPath(path);
    if (!parts) return nullptr;
    const Key* key = &root_;
    for (std::string_view part : *parts) {
        const auto it = key->subkeys.find(part);
        if (it == key->subkeys.end()) return nullptr;
        key = it->second.get();
    }
    return key;
}

Key* Hive::findOrCreate(std::string_view path) {
    const auto parts = splitPath(path);
    if (!parts) return nullptr;
    Key* key = &root_;
    for (std::string_view part : *parts) {
        auto it = key->subkeys.find(part);
        if (it == key->subkeys.end()) it = key->subkeys.emplace(std::string(part), std::make_unique<Key>()).first;
        key = it->second.get();
    }
    return key;
}

bool Hive::createKey(std::string_view path) { return findOrCreate(path) != nullptr; }

bool Hive::keyExists(std::string_view path) const { return find(path) != nullptr; }

bool Hive::setValue(std::string_view path, std::string_view name, Value value) {
    if (!validName(name)) return false;
    Key* key = findOrCreate(path);
    if (key == nullptr) return false;
    auto it = key->values.find(name);
    if (it == key->values.end()) {
        key->values.emplace(std::string(name), std::move(value));
    } else {
        it->second = std::move(value);
    }
    return true;
}

std::optional<Value> Hive::queryValue(std::string_view path, std::string_view name) const {
    const Key* key = find(path);
    if (key == nullptr) return std::nullopt;
    const auto it = key->values.find(name);
    if (it == key->values.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> Hive::queryString(std::string_view path, std::string_view name) const {
    auto value = queryValue(path, name);
    if (!value || value->type != Value::Type::string) return std::nullopt;
    return std::move(value->text);
}

bool Hive::deleteValue(std::string_view path, std::string_view name) {
    Key* key = const_cast<Key*>(find(path));
    if (key == nullptr) return false;
    const auto it = key->values.find(name);
    if (it == key->values.end()) return false;
    key->values.erase(it);
    return true;
}

bool Hive::deleteTree(std::string_view path) {
    const std::size_t slash = path.rfind('\\');
    const std::string_view parentPath = slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (name.empty()) return false;
    Key* parent = const_cast<Key*>(find(parentPath));
    if (parent == nullptr) return false;
    const auto it = parent->subkeys.find(name);
    if (it == parent->subkeys.end()) return false;
    parent->subkeys.erase(it);
    return true;
}

std::vector<std::string> Hive::enumKeys(std::string_view path) const {
    std::vector<std::string> names;
    if (const Key* key = find(path)) {
        for (const auto& entry : key->subkeys) names.push_back(entry.first);
    }
    return names;
}

std::vector<std::pair<std::string, Value>> Hive::enumValues(std::string_view path) const {
    std::vector<std::pair<std::string, Value>> values;
    if (const Key* key = find(path)) {
        for (const auto& entry : key->values) values.emplace_back(entry.first, entry.second);
    }
    return values;
}

std::optional<Hive> Hive::parse(std::string_view text, std::string* error) {
    if (text.size() > kMaxFileSize) {
        setError(error, "hive larger than the limit");
        return std::nullopt;
    }
    Hive hive;
    Key* current = nullptr;
    std::size_t lineNumber = 0;
    auto fail = [&](const char* reason) {
        setError(error, "line " + std::to_string(lineNumber) + ": " + reason);
        return std::nullopt;
    };
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        line = trimRight(trimLeft(line));
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            if (line.back() != ']') return fail("key line without closing bracket");
            current = hive.findOrCreate(line.substr(1, line.size() - 2));
            if (current == nullptr || line.size() == 2) return fail("invalid key path");
            continue;
        }
        if (current == nullptr) return fail("value outside of any key");
        std::string name;
        if (line.front() == '@') {
            line.remove_prefix(1);
        } else if (!readQuoted(line, name)) {
            return fail("malformed value name");
        }
        if (!validName(name)) return fail("invalid value name");
        line = trimLeft(line);
        if (line.empty() || line.front() != '=') return fail("expected '='");
        line = trimLeft(line.substr(1));
        Value value;
        if (line.starts_with("dword:")) {
            const std::string_view digits = line.substr(6);
            if (digits.empty() || digits.size() > 8) return fail("malformed dword");
            DWORD number = 0;
            for (char c : digits) {
                const int d = hexDigit(c);
                if (d < 0) return fail("malformed dword");
                number = number * 16 + static_cast<DWORD>(d);
            }
            value = Value::dword(number);
        } else {
            std::string textValue;
            if (!readQuoted(line, textValue)) return fail("malformed string value");
            if (!trimLeft(line).empty()) return fail("text after the value");
            value = Value::string(std::move(textValue));
        }
        current->values.insert_or_assign(std::move(name), std::move(value));
    }
    return hive;
}

std::string Hive::serialize() const {
    std::string out(kHeader);
    std::string path;
    serializeKey(root_, path, out);
    return out;
}

std::optional<Hive> Hive::load(const std::string& file, std::string* error) {
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (f == nullptr) {
        if (errno == ENOENT) return Hive();
        setError(error, systemError("cannot open", file));
        return std::nullopt;
    }
    std::string text;
    char buffer[65536];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        if (text.size() + n > kMaxFileSize) {
            std::fclose(f);
            setError(error, file + ": larger than the limit");
            return std::nullopt;
        }
        text.append(buffer, n);
    }
    const bool readError = std::ferror(f) != 0;
    std::fclose(f);
    if (readError) {
        setError(error, systemError("cannot read", file));
        return std::nullopt;
    }
    std::string parseError;
    auto hive = parse(text, &parseError);
    if (!hive) setError(error, file + ": " + parseError);
    return hive;
}

bool Hive::save(const std::string& file, std::string* error) const {
    if (!makeParentFolders(file, error)) return false;
    std::string temp = file + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        setError(error, systemError("cannot create a temporary file for", file));
        return false;
    }
    const std::string text = serialize();
    std::size_t written = 0;
    bool ok = true;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    ok = ok && ::fchmod(fd, 0644) == 0 && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
        setError(error, systemError("cannot write", file));
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

bool Hive::update(const std::string& file, const std::function<bool(Hive&)>& change, std::string* error) {
    if (!makeParentFolders(file, error)) return false;
    FileLock lock(file + ".lock");
    if (!lock.held()) {
        setError(error, systemError("cannot lock", file));
        return false;
    }
    auto hive = load(file, error);
    if (!hive) return false;
    if (!change(*hive)) return true;
    return hive->save(file, error);
}

}  // namespace com::registry
