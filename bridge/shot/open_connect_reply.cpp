#include "bridge/shot/open_connect_reply.h"

#include <cmath>

#include "bridge/shot/json_scalars.h"
#include "bridge/shot/number_text.h"

namespace taltrix {

namespace {

constexpr std::string_view keyCode = "Code";
constexpr std::string_view keyMessage = "Message";
constexpr std::string_view keyHanded = "Player.Handed";
constexpr std::string_view keyClub = "Player.Club";
constexpr std::string_view keyDistance = "Player.DistanceToTarget";
constexpr std::string_view keySurface = "Player.Surface";

constexpr int largestCode = 999;

bool isDigits(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

std::optional<int> readCode(const JsonScalar& value) {
    double code = 0;
    if (value.kind == JsonScalar::Kind::number) {
        code = value.number;
    } else if (value.kind == JsonScalar::Kind::string && isDigits(value.text) && value.text.size() <= 3) {
        code = readNumber(value.text);
    } else {
        return std::nullopt;
    }
    if (code != std::floor(code) || code < 0 || code > largestCode) return std::nullopt;
    return static_cast<int>(code);
}

// A text field: absent is fine, a string is taken, anything else refuses the
// reply. A null counts as absent, as simulators write it for "not known".
bool readText(const JsonScalars& scalars, std::string_view path, std::optional<std::string>& out) {
    const JsonScalar* value = scalars.find(path);
    if (value == nullptr || value->kind == JsonScalar::Kind::null) return true;
    if (value->kind != JsonScalar::Kind::string) return false;
    out = value->text;
    return true;
}

// The distance: a number, or a number written as a string.
bool readDistance(const JsonScalars& scalars, std::optional<double>& out) {
    const JsonScalar* value = scalars.find(keyDistance);
    if (value == nullptr || value->kind == JsonScalar::Kind::null) return true;
    if (value->kind == JsonScalar::Kind::number) {
        out = value->number;
        return true;
    }
    if (value->kind == JsonScalar::Kind::string && isNumeric(value->text)) {
        out = readNumber(value->text);
        return true;
    }
    return false;
}

}  // namespace

std::optional<OpenConnectReply> readOpenConnectReply(std::string_view text) {
    const std::optional<JsonScalars> scalars = JsonScalars::read(text);
    if (!scalars || !scalars->isObject()) return std::nullopt;

    const JsonScalar* code = scalars->find(keyCode);
    if (code == nullptr) return std::nullopt;
    OpenConnectReply reply;
    const std::optional<int> number = readCode(*code);
    if (!number) return std::nullopt;
    reply.code = *number;

    std::optional<std::string> message;
    if (!readText(*scalars, keyMessage, message) || !readText(*scalars, keyHanded, reply.handed) ||
        !readText(*scalars, keyClub, reply.club) || !readText(*scalars, keySurface, reply.surface) ||
        !readDistance(*scalars, reply.distanceToTarget)) {
        return std::nullopt;
    }
    reply.message = message.value_or(std::string());
    return reply;
}

}  // namespace taltrix
