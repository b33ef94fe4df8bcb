#include "bridge/history/shot_csv.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace taltrix::history {

namespace {

constexpr std::string_view lineEnd = "\r\n";

std::string quoted(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string latencyText(double us) {
    char text[32];
    // to_chars ignores the locale, unlike printf's %f.
    const auto [end, ec] = std::to_chars(text, text + sizeof text, us, std::chars_format::fixed, 1);
    return ec == std::errc() ? std::string(text, end) : "0";
}

}  // namespace

std::string numberText(double value) {
    if (value == 0) return "0";  // also for -0
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : "0";
}

std::string localTimeText(std::int64_t timeMs) {
    const std::time_t seconds = static_cast<std::time_t>(timeMs >= 0 ? timeMs / 1000 : (timeMs - 999) / 1000);
    const long millis = static_cast<long>(timeMs - static_cast<std::int64_t>(seconds) * 1000);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char text[48];
    std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    const long offset = local.tm_gmtoff / 60;
    length +=
        static_cast<std::size_t>(std::snprintf(text + length, sizeof text - length, ".%03ld%c%02ld:%02ld", millis,
                                               offset < 0 ? '-' : '+', std::labs(offset) / 60, std::labs(offset) % 60));
    return std::string(text, length);
}

std::string csvHeader() {
    std::string header = "time,session,simulator,club_in_play,device_club";
    for (const NumberField& field : shotNumbers) {
        header += ',';
        header += field.column;
    }
    header += ",version,delivered,latency_us,message";
    return header + std::string(lineEnd);
}

std::string csvRow(const ShotEntry& entry) {
    std::string row = localTimeText(entry.timeMs) + "," + localTimeText(entry.session) + "," + quoted(entry.simulator) +
                      "," + quoted(entry.clubInPlay) + "," + quoted(entry.shot.club);
    for (const NumberField& field : shotNumbers) {
        row += ',';
        row += numberText(field.get(entry.shot));
    }
    row += "," + quoted(entry.shot.version) + ",";
    if (entry.delivered) row += *entry.delivered ? "yes" : "no";
    row += "," + latencyText(entry.latencyUs) + "," + quoted(entry.message);
    return row + std::string(lineEnd);
}

std::string shotsCsv(const std::vector<ShotEntry>& entries) {
    std::string csv = csvHeader();
    for (const ShotEntry& entry : entries) csv += csvRow(entry);
    return csv;
}

}  // namespace taltrix::history
