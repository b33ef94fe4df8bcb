#include "bridge/support/settings_mask.h"

#include <cctype>

namespace taltrix::support {

namespace {

constexpr std::string_view keyName = "HalvexPlay_key";
constexpr std::size_t shortestMaskedSecret = 4;

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

bool sameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// Calls `onKeyLine(line, valueStart, valueEnd)` for every line that sets the
// key; positions are within the whole text.
template <typename F>
void forEachKeyLine(std::string_view text, F&& onKeyLine) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        const std::size_t equals = line.find('=');
        if (equals != std::string_view::npos && sameLetters(trimmed(line.substr(0, equals)), keyName)) {
            std::size_t valueStart = equals + 1;
            std::size_t valueEnd = line.size();
            if (valueEnd > valueStart && line[valueEnd - 1] == '\r') --valueEnd;
            onKeyLine(start + valueStart, start + valueEnd);
        }
        start = end + 1;
    }
}

}  // namespace

std::string maskSettings(std::string_view settings) {
    std::string masked;
    std::size_t copied = 0;
    forEachKeyLine(settings, [&](std::size_t valueStart, std::size_t valueEnd) {
        masked.append(settings.substr(copied, valueStart - copied));
        if (!trimmed(settings.substr(valueStart, valueEnd - valueStart)).empty()) masked.append(maskedKey);
        copied = valueEnd;
    });
    masked.append(settings.substr(copied));
    return masked;
}

std::string relayKey(std::string_view settings) {
    std::string key;
    forEachKeyLine(settings, [&](std::size_t valueStart, std::size_t valueEnd) {
        if (key.empty()) key = std::string(trimmed(settings.substr(valueStart, valueEnd - valueStart)));
    });
    return key;
}

std::string maskSecret(std::string_view text, std::string_view secret) {
    if (secret.size() < shortestMaskedSecret) return std::string(text);
    std::string masked;
    std::size_t at = 0;
    for (std::size_t found; (found = text.find(secret, at)) != std::string_view::npos; at = found + secret.size()) {
        masked.append(text.substr(at, found - at)).append(maskedKey);
    }
    return masked.append(text.substr(at));
}

}  // namespace taltrix::support
