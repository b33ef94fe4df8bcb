#include "platform/profile/private_profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile/profile_document.h"

namespace platform::profile {

namespace {

// Settings files are a few hundred bytes; anything near this is not one of
// ours, and reading it whole would only cost memory.
constexpr off_t maxFileSize = 16 * 1024 * 1024;

enum class ReadOutcome { ok, missing, failed };

ReadOutcome readFile(const char* fileName, std::string& out) {
    const int fd = ::open(fileName, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? ReadOutcome::missing : ReadOutcome::failed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > maxFileSize) {
        ::close(fd);
        return ReadOutcome::failed;
    }
    out.clear();
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 || static_cast<off_t>(out.size()) + n > maxFileSize) {
            ::close(fd);
            return ReadOutcome::failed;
        }
        if (n == 0) {
            break;
        }
        out.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ReadOutcome::ok;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool replaceFile(const char* fileName, std::string_view bytes) {
    struct stat old {};
    const bool existed = ::stat(fileName, &old) == 0;
    const std::string temp = std::string(fileName) + ".tmp" + std::to_string(::getpid());
    // A new file is its owner's alone: a settings file may hold an account
    // key. An existing one keeps the mode its owner gave it. The temporary
    // file is always a new one: a leftover of a crashed write (or anything
    // else by that name) would keep its own mode, and a symbolic link would
    // take the bytes elsewhere.
    ::unlink(temp.c_str());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    bool ok = writeAll(fd, bytes);
    if (ok && existed) {
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    }
    ok = ::close(fd) == 0 && ok;
    if (ok) {
        ok = ::rename(temp.c_str(), fileName) == 0;
    }
    if (!ok) {
        ::unlink(temp.c_str());
    }
    return ok;
}

std::uint32_t copyValue(std::string_view value, char* buffer, std::uint32_t size) {
    const std::size_t n = std::min<std::size_t>(value.size(), size - 1);
    std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return static_cast<std::uint32_t>(n);
}

// Names one after the other, each followed by a NUL, and a final NUL.
std::uint32_t copyList(const std::vector<std::string>& names, char* buffer, std::uint32_t size) {
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    std::size_t used = 0;
    for (const std::string& name : names) {
        if (used + name.size() + 2 > size) {
            const std::size_t room = used < size - 2 ? size - 2 - used : 0;
            std::memcpy(buffer + used, name.data(), room);
            buffer[size - 2] = '\0';
            buffer[size - 1] = '\0';
            return size - 2;
        }
        std::memcpy(buffer + used, name.data(), name.size());
        used += name.size();
        buffer[used++] = '\0';
    }
    buffer[used] = '\0';
    if (used == 0) {
        buffer[1] = '\0';
    }
    return static_cast<std::uint32_t>(used);
}

bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

std::uint32_t GetPrivateProfileStringA(const char* appName, const char* keyName, const char* defaultText, char* buffer,
                                       std::uint32_t size, const char* fileName) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    std::string bytes;
    if (fileName == nullptr || readFile(fileName, bytes) != ReadOutcome::ok) {
        bytes.clear();
    }
    const ProfileDocument document(bytes);
    if (appName == nullptr) {
        return copyList(document.sectionNames(), buffer, size);
    }
    if (keyName == nullptr) {
        return copyList(document.keyNames(appName), buffer, size);
    }
    if (const auto value = document.value(appName, keyName)) {
        return copyValue(*value, buffer, size);
    }
    std::string_view fallback = defaultText != nullptr ? defaultText : "";
    while (!fallback.empty() && (fallback.back() == ' ' || fallback.back() == '\t')) {
        fallback.remove_suffix(1);
    }
    return copyValue(fallback, buffer, size);
}

int WritePrivateProfileStringA(const char* appName, const char* keyName, const char* text, const char* fileName) {
    if (appName == nullptr || fileName == nullptr) {
        return 0;
    }
    const std::string_view section = appName;
    if (hasLineBreak(section) || section.find(']') != std::string_view::npos ||
        (keyName != nullptr && (hasLineBreak(keyName) || std::strchr(keyName, '=') != nullptr)) ||
        (text != nullptr && hasLineBreak(text))) {
        return 0;
    }
    std::string bytes;
    const ReadOutcome read = readFile(fileName, bytes);
    if (read == ReadOutcome::failed) {
        return 0;
    }
    ProfileDocument document(bytes);
    if (keyName == nullptr) {
        if (!document.removeSection(section)) {
            return 1;
        }
    } else if (text == nullptr) {
        if (!document.removeKey(section, keyName)) {
            return 1;
        }
    } else {
        document.setValue(section, keyName, text);
    }
    return replaceFile(fileName, document.bytes()) ? 1 : 0;
}

}  // namespace platform::profile
