#include "bridge/shot/sim_message_interpreter.h"

#include <algorithm>
#include <array>

#include "bridge/shot/number_text.h"
#include "bridge/shot/rounding.h"
#include "bridge/shot/text_filters.h"

namespace taltrix {

namespace {

enum class Protocol { HALVEX, HYInfo, HYStatus, HXSDK, HXP, HXCONTROL };

constexpr std::array<std::pair<std::string_view, Protocol>, 6> protocols = {{
    {"HALVEX", Protocol::HALVEX},
    {"HYInfo", Protocol::HYInfo},
    {"HYStatus", Protocol::HYStatus},
    {"HXSDK", Protocol::HXSDK},
    {"HXP", Protocol::HXP},
    {"HXCONTROL", Protocol::HXCONTROL},
}};

constexpr std::array<std::string_view, 7> sdkStatusCodes = {"102", "150", "201", "202", "203", "204", "205"};
constexpr std::array<std::string_view, 10> gameStatusCodes = {"102", "150", "200", "201", "202",
                                                              "203", "204", "205", "206", "500"};

constexpr double metresPerYard = 0.9144;
constexpr std::size_t clubLength = 2;
constexpr std::size_t statusLength = 3;
constexpr std::size_t playerNameLength = 20;
constexpr std::size_t gameNameLength = 50;

template <std::size_t N>
bool isOneOf(std::string_view value, const std::array<std::string_view, N>& list) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

std::string withoutPointsAndCommas(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c != '.' && c != ',') out.push_back(c);
    }
    return out;
}

std::string firstChars(std::string_view text, std::size_t count) { return std::string(text.substr(0, count)); }

std::string trimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

// Numbers lose their fraction (110.7 reads as 110) and a text keeps what
// stands before its first "." or ",".
std::string cutAtSeparators(std::string_view value) {
    value = value.substr(0, value.find('.'));
    value = value.substr(0, value.find(','));
    return std::string(value);
}

// Status and control values keep two characters past the first "." and the
// first ",", then lose the separators: 2.5 reads as 25, 2.55 as 255.
std::string keepTwoPastSeparators(std::string_view value) {
    for (const char separator : {'.', ','}) {
        const std::size_t at = value.find(separator);
        if (at != std::string_view::npos) value = value.substr(0, at + 3);
    }
    return withoutPointsAndCommas(value);
}

void setDistanceToFlag(SimulatorState& state, std::string_view yards) {
    state.distanceYards = roundHalfEven(readNumber(yards), 2);
    state.distanceMetres = roundHalfEven(state.distanceYards * metresPerYard, 2);
}

class Reader {
public:
    Reader(SimulatorState& state, StatusDisplay& status) : state_(state), status_(status) {}

    // Each returns false when the row rejects the message.
    bool hyInfo(std::string_view key, const std::string& value) {
        if (key == "club") {
            state_.currentClub = firstChars(value, clubLength);
        } else if (key == "hand") {
            state_.rightHanded = value != "LH";
        } else if (key == "distance") {
            if (!isNumeric(value)) return false;
            state_.distanceMetres = roundHalfEven(readNumber(value), 2);
        } else if (key == "surface") {
            state_.surface = value;
        }
        return true;
    }

    bool hyStatus(std::string_view key, const std::string& value) {
        if (key == "status") {
            if (!isNumeric(value)) return false;
            const double status = roundHalfEven(readNumber(value), 0);
            // The field holds a 16-bit code; a value beyond that is no code.
            if (status < -32768.0 || status > 32767.0) return false;
            state_.infoStatus = static_cast<std::int16_t>(status);
        } else if (key == "message") {
            if (!value.empty()) status_.showStatus(value);
        }
        return true;
    }

    bool hxsdk(std::string_view key, const std::string& value) {
        if (key == "status") {
            if (!isOneOf(value, sdkStatusCodes)) return false;
            state_.sdkStatus = firstChars(value, statusLength);
        } else if (key == "playerName") {
            state_.playerName = firstChars(value, playerNameLength);
        } else if (key == "courseName") {
            state_.gameName = firstChars(value, gameNameLength);
        } else if (key == "tourName") {
            state_.tourName = firstChars(value, gameNameLength);
        } else if (key == "playerDistanceToFlag") {
            if (!isNumeric(value)) return false;
            setDistanceToFlag(state_, value);
        } else {
            return playerRow(key, value);
        }
        return true;
    }

    bool hxp(std::string_view key, const std::string& value) {
        if (key == "status") {
            if (!isOneOf(value, gameStatusCodes)) return false;
            state_.gameStatus = firstChars(value, statusLength);
        } else if (key == "playerName") {
            state_.playerName = trimBlanks(firstChars(value, playerNameLength));
        } else if (key == "gameName") {
            state_.gameName = trimBlanks(firstChars(value, gameNameLength));
        } else if (key == "distanceToFlag") {
            if (!isNumeric(value)) return false;
            setDistanceToFlag(state_, value);
        } else {
            return playerRow(key, value);
        }
        return true;
    }

    bool hxControl(std::string_view key, const std::string& value) {
        if (key == "COMMAND" && value == "quit") {
            status_.showStatus(value);
            state_.quitRequested = true;
        }
        return true;
    }

    static bool halvex(std::string_view key, std::string_view value) {
        return key != "device" || value == "GC2" || value == "EXT";
    }

private:
    // Rows TGC and the relay game have in common.
    bool playerRow(std::string_view key, const std::string& value) {
        if (key == "playerClub") {
            state_.currentClub = firstChars(value, clubLength);
        } else if (key == "playerHand") {
            state_.rightHanded = value != "LH";
        } else if (key == "playerSurface") {
            state_.surface = surfaceFromLetter(value);
        } else if (key == "message") {
            // A 150 carries the club change, whose text the club command
            // result replaces on the display.
            if (!value.empty() && state_.sdkStatus != "150") status_.showStatus(value);
        }
        return true;
    }

    SimulatorState& state_;
    StatusDisplay& status_;
};

}  // namespace

std::string surfaceFromLetter(std::string_view value) {
    const std::string letters = filterShotCharset(value);
    switch (letters.empty() ? 'T' : letters.front()) {
        case 'S': return "Bunker";
        case 'L':
        case 'R': return "Rough";
        case 'H': return "High Rough";
        case 'F': return "Fairway";
        case 'G': return "Green";
        default: return "Tee";
    }
}

bool SimMessageInterpreter::interpret(const PairTable& table, SimulatorState& state, StatusDisplay& status) {
    state.sdkStatus.clear();
    if (table.empty() || table.front().key != "protocol") return false;

    const std::string name = withoutPointsAndCommas(table.front().value);
    const auto found = std::find_if(protocols.begin(), protocols.end(), [&](const auto& p) { return p.first == name; });
    if (found == protocols.end()) return false;
    const Protocol protocol = found->second;

    Reader reader(state, status);
    const std::size_t firstRow = protocol == Protocol::HALVEX ? 0 : 1;
    for (std::size_t i = firstRow; i < table.size(); ++i) {
        const std::string& key = table[i].key;
        bool ok = true;
        switch (protocol) {
            case Protocol::HYInfo: ok = reader.hyInfo(key, cutAtSeparators(table[i].value)); break;
            case Protocol::HXSDK: ok = reader.hxsdk(key, cutAtSeparators(table[i].value)); break;
            case Protocol::HXP: ok = reader.hxp(key, cutAtSeparators(table[i].value)); break;
            case Protocol::HYStatus: ok = reader.hyStatus(key, keepTwoPastSeparators(table[i].value)); break;
            case Protocol::HXCONTROL: ok = reader.hxControl(key, keepTwoPastSeparators(table[i].value)); break;
            case Protocol::HALVEX: ok = Reader::halvex(key, table[i].value); break;
        }
        if (!ok) return false;
    }
    return true;
}

}  // namespace taltrix
