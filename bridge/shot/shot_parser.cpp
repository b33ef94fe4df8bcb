#include "bridge/shot/shot_parser.h"

#include <array>
#include <optional>
#include <span>
#include <string>

#include "bridge/shot/launch_code.h"
#include "bridge/shot/number_text.h"
#include "bridge/shot/rounding.h"

namespace taltrix {

namespace {

// Field tags in message order, then the terminator. A field's value runs from
// its tag to the first occurrence of the tag that follows it.
enum Field : std::size_t {
    CS,
    BS,
    CD,
    TD,
    LA,
    SP,
    SF,
    CL,
    SPA,
    DIR,
    LDA,
    AA,
    DL,
    MH,
    SC,
    ST,
    CPTH,
    CFAC,
    SPL,
    HT,
    BV,
    VER,
    END,
    fieldCount
};

constexpr std::array<std::string_view, fieldCount> tags = {"CS",   "BS",   "CD",  "TD", "LA", "SP",  "SF", "CL",
                                                           "SPA",  "DIR",  "LDA", "AA", "DL", "MH",  "SC", "ST",
                                                           "CPTH", "CFAC", "SPL", "HT", "BV", "VER", "End"};

constexpr double kmhPerMph = 1.609;

// Where each tag first occurs, found in one pass over the message. Each
// tag is both one field's start and the previous field's end.
class TagIndex {
public:
    explicit TagIndex(std::string_view message) {
        first_.fill(std::string_view::npos);
        for (std::size_t at = 0; at < message.size(); ++at) {
            for (const Field field : candidates(message[at])) {
                if (first_[field] == std::string_view::npos && message.substr(at).starts_with(tags[field])) {
                    first_[field] = at;
                }
            }
        }
    }

    std::size_t operator[](std::size_t field) const { return first_[field]; }

private:
    // The tags that may start with a given letter.
    static std::span<const Field> candidates(char c) {
        static constexpr Field a[] = {AA}, b[] = {BS, BV}, cTags[] = {CS, CD, CL, CPTH, CFAC}, d[] = {DIR, DL},
                               e[] = {END}, h[] = {HT}, l[] = {LA, LDA}, m[] = {MH},
                               sTags[] = {SP, SF, SPA, SC, ST, SPL}, t[] = {TD}, v[] = {VER};
        switch (c) {
            case 'A': return a;
            case 'B': return b;
            case 'C': return cTags;
            case 'D': return d;
            case 'E': return e;
            case 'H': return h;
            case 'L': return l;
            case 'M': return m;
            case 'S': return sTags;
            case 'T': return t;
            case 'V': return v;
            default: return {};
        }
    }

    std::array<std::size_t, fieldCount> first_{};
};

class FieldReader {
public:
    explicit FieldReader(std::string_view message) : message_(message), first_(message) {}

    // The field's text with its tag removed wherever it occurs, or nothing
    // when the field or the tag after it is missing or out of order.
    // `scratch` holds the text when the tag occurs more than once.
    std::optional<std::string_view> value(Field field, std::string& scratch) const {
        const std::size_t a = first_[field];
        const std::size_t b = first_[field + 1];
        if (a == std::string_view::npos || b == std::string_view::npos || b < a) return std::nullopt;
        const std::string_view tag = tags[field];
        // The next tag may begin inside this one ("BVER": BV, then VER at
        // the V), so the piece can be shorter than the tag itself.
        std::string_view piece = message_.substr(a, b - a);
        if (piece.starts_with(tag) && piece.find(tag, tag.size()) == std::string_view::npos) {
            return piece.substr(tag.size());
        }
        std::size_t at = piece.find(tag);
        if (at == std::string_view::npos) return piece;
        scratch.clear();
        std::size_t from = 0;
        for (; at != std::string_view::npos; at = piece.find(tag, from)) {
            scratch.append(piece.substr(from, at - from));
            from = at + tag.size();
        }
        scratch.append(piece.substr(from));
        return std::string_view(scratch);
    }

    // The field read as a number, or nothing when it cannot be located.
    std::optional<double> number(Field field) const {
        std::string scratch;
        const auto text = value(field, scratch);
        if (!text) return std::nullopt;
        return readNumber(*text);
    }

private:
    std::string_view message_;
    TagIndex first_;
};

void readRounded(const FieldReader& reader, Field field, int decimals, double& target) {
    if (const auto n = reader.number(field)) target = roundHalfEven(*n, decimals);
}

void readWhole(const FieldReader& reader, Field field, std::int32_t& target) {
    if (const auto n = reader.number(field)) {
        if (const auto whole = toInt32(*n)) target = *whole;
    }
}

}  // namespace

bool ShotParser::parse(std::string_view message, ShotRecord& record) {
    PreciseShot ignored;
    return parse(message, record, ignored);
}

bool ShotParser::parse(std::string_view message, ShotRecord& record, PreciseShot& precise) {
    record.clear();
    precise = PreciseShot{};
    const FieldReader reader(message);

    if (const auto speed = reader.number(CS)) {
        record.clubSpeedMPH = *speed;
        record.clubSpeedKMH = roundHalfEven(*speed * kmhPerMph, 1);
    }
    if (const auto speed = reader.number(BS)) {
        record.ballSpeedMPH = *speed;
        record.ballSpeedKMH = roundHalfEven(*speed * kmhPerMph, 1);
    }
    readWhole(reader, SP, record.backSpin);
    readWhole(reader, LA, record.ballAngle);
    readRounded(reader, LA, 1, precise.launchAngle);
    record.launchCode = computeLaunchCode(record.backSpin, record.ballAngle);

    readRounded(reader, CD, 1, record.valueCD);
    readRounded(reader, TD, 1, record.valueTD);
    readRounded(reader, SF, 2, record.smashFactor);
    std::string scratch;
    if (const auto club = reader.value(CL, scratch)) record.club = *club;

    // The device's spin axis counts in whole degrees only: the fraction is
    // cut off (not rounded) by reading up to the decimal point.
    if (const auto axis = reader.value(SPA, scratch)) {
        // Reading stops at the decimal point, which is what a ","
        // standing in its place would do.
        record.spinAxis = roundHalfEven(readNumber(axis->substr(0, axis->find('.'))), 1);
        precise.spinAxis = roundHalfEven(readNumber(*axis), 1);
    }
    if (const auto side = toInt32(record.spinAxis * record.backSpin / 45.0)) record.sideSpin = *side;

    readRounded(reader, DIR, 1, record.ballDirection);
    readRounded(reader, LDA, 1, record.valueLDA);
    readRounded(reader, AA, 1, record.valueAA);
    readRounded(reader, DL, 1, record.valueDL);
    readRounded(reader, MH, 1, record.valueMH);
    readRounded(reader, SC, 1, record.valueSC);
    readRounded(reader, ST, 1, record.valueST);
    readRounded(reader, CPTH, 1, record.swingPath);
    readRounded(reader, CFAC, 1, record.clubFace);
    readRounded(reader, SPL, 1, record.valueSPL);
    readRounded(reader, HT, 2, record.valueHT);
    readRounded(reader, BV, 2, record.valueBV);
    if (const auto version = reader.value(VER, scratch)) record.version = *version;
    return true;
}

}  // namespace taltrix
