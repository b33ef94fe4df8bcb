#include "bridge/feed/feed_json.h"

#include "bridge/history/shot_csv.h"

namespace taltrix::feed {

namespace {

// The length of the valid UTF-8 sequence at the start of `text`, or 0.
std::size_t utf8Length(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    std::uint32_t lowest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    std::uint32_t code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i) & 0x3F);
    }
    if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

void appendStatusFields(std::string& out, const FeedStatus& status) {
    out += "\"device\":{\"connected\":";
    out += status.deviceConnected ? "true" : "false";
    out += ",\"name\":";
    appendJsonString(out, status.deviceName);
    out += "},\"simulator\":{\"name\":";
    appendJsonString(out, status.simulatorName);
    out += ",\"connected\":";
    out += status.simulatorConnected ? "true" : "false";
    out += "},\"club_in_play\":";
    if (status.clubInPlay.empty()) {
        out += "null";
    } else {
        appendJsonString(out, status.clubInPlay);
    }
    out += ",\"session_started\":";
    appendJsonString(out, history::localTimeText(status.sessionStartedMs));
    out += ",\"shots_this_session\":" + std::to_string(status.shotsThisSession) + "}";
}

}  // namespace

void appendJsonString(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t length = utf8Length(text.substr(i));
            if (length == 0) {
                out += "\xEF\xBF\xBD";  // U+FFFD for the broken byte
                ++i;
            } else {
                out.append(text.substr(i, length));
                i += length;
            }
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    out += '"';
}

std::string shotJson(const history::ShotEntry& entry) {
    using Kind = history::ShotColumn::Kind;
    std::string out = "{";
    for (const history::ShotColumn& column : history::shotColumns()) {
        if (out.size() > 1) out += ',';
        appendJsonString(out, column.name);
        out += ':';
        const std::string text = column.text(entry);
        // An empty text is a value nobody knows; the history's number texts
        // are JSON numbers, except for what no JSON number can be.
        if (column.kind == Kind::text && !text.empty()) {
            appendJsonString(out, text);
        } else if (column.kind == Kind::flag && (text == "yes" || text == "no")) {
            out += text == "yes" ? "true" : "false";
        } else if (column.kind == Kind::number && !text.empty() && text.find_first_of("in") == std::string::npos) {
            out += text;
        } else {
            out += "null";
        }
    }
    return out + "}";
}

std::string shotsJson(const std::vector<history::ShotEntry>& entries) {
    std::string out = "{\"shots\":[";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) out += ',';
        out += shotJson(entries[i]);
    }
    return out + "]}";
}

std::string shotMessage(const history::ShotEntry& entry) {
    return "{\"type\":\"shot\",\"shot\":" + shotJson(entry) + "}";
}

std::string statusJson(const FeedStatus& status) {
    std::string out = "{";
    appendStatusFields(out, status);
    return out;
}

std::string statusMessage(const FeedStatus& status) {
    std::string out = "{\"type\":\"status\",";
    appendStatusFields(out, status);
    return out;
}

std::string errorJson(std::string_view message) {
    std::string out = "{\"error\":";
    appendJsonString(out, message);
    return out + "}";
}

}  // namespace taltrix::feed
