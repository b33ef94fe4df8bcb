#include "bridge/history/shot_csv.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <utility>

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

namespace {

using Kind = ShotColumn::Kind;

template <std::size_t index>
std::string numberColumn(const ShotEntry& entry) {
    return numberText(shotNumbers[index].get(entry.shot));
}

template <std::size_t... index>
constexpr std::array<ShotColumn, sizeof...(index)> numberColumns(std::index_sequence<index...>) {
    return {ShotColumn{shotNumbers[index].column, Kind::number, &numberColumn<index>}...};
}

constexpr std::array<ShotColumn, 5> leadingColumns = {{
    {"time", Kind::text, [](const ShotEntry& e) { return localTimeText(e.timeMs); }},
    {"session", Kind::text, [](const ShotEntry& e) { return localTimeText(e.session); }},
    {"simulator", Kind::text, [](const ShotEntry& e) { return e.simulator; }},
    {"club_in_play", Kind::text, [](const ShotEntry& e) { return e.clubInPlay; }},
    {"device_club", Kind::text, [](const ShotEntry& e) { return e.shot.club; }},
}};

constexpr std::array<ShotColumn, 6> trailingColumns = {{
    {"version", Kind::text, [](const ShotEntry& e) { return e.shot.version; }},
    {"delivered", Kind::flag,
     [](const ShotEntry& e) { return std::string(e.delivered ? (*e.delivered ? "yes" : "no") : ""); }},
    {"latency_us", Kind::number, [](const ShotEntry& e) { return latencyText(e.latencyUs); }},
    {"message", Kind::text, [](const ShotEntry& e) { return e.message; }},
    {"outcome", Kind::text,
     [](const ShotEntry& e) { return std::string(e.outcome ? shotOutcomeText(*e.outcome) : ""); }},
    {"shot_number", Kind::number,
     [](const ShotEntry& e) { return e.shotNumber ? std::to_string(*e.shotNumber) : std::string(); }},
}};

constexpr auto middleColumns = numberColumns(std::make_index_sequence<std::size(shotNumbers)>());

template <std::size_t a, std::size_t b, std::size_t c>
constexpr std::array<ShotColumn, a + b + c> joined(const std::array<ShotColumn, a>& first,
                                                   const std::array<ShotColumn, b>& second,
                                                   const std::array<ShotColumn, c>& third) {
    std::array<ShotColumn, a + b + c> all{};
    std::size_t at = 0;
    for (const ShotColumn& column : first) all[at++] = column;
    for (const ShotColumn& column : second) all[at++] = column;
    for (const ShotColumn& column : third) all[at++] = column;
    return all;
}

constexpr auto allColumns = joined(leadingColumns, middleColumns, trailingColumns);

}  // namespace

std::span<const ShotColumn> shotColumns() { return allColumns; }

std::string csvHeader() {
    std::string header;
    for (const ShotColumn& column : allColumns) {
        if (!header.empty()) header += ',';
        header += column.name;
    }
    return header + std::string(lineEnd);
}

std::string csvRow(const ShotEntry& entry) {
    std::string row;
    for (const ShotColumn& column : allColumns) {
        if (&column != allColumns.data()) row += ',';
        const std::string text = column.text(entry);
        row += column.kind == Kind::text ? quoted(text) : text;
    }
    return row + std::string(lineEnd);
}

std::string shotsCsv(const std::vector<ShotEntry>& entries) {
    std::string csv = csvHeader();
    for (const ShotEntry& entry : entries) csv += csvRow(entry);
    return csv;
}

}  // namespace taltrix::history
