#include "bridge/shot/shot_observer.h"

#include <array>
#include <utility>

namespace taltrix {

namespace {

constexpr std::array<std::pair<ShotOutcome, std::string_view>, 5> outcomeTexts = {{
    {ShotOutcome::sent, "sent"},
    {ShotOutcome::simulatorNotConnected, "simulator not connected"},
    {ShotOutcome::simulatorNotReady, "simulator not ready"},
    {ShotOutcome::inTheLobby, "in the lobby"},
    {ShotOutcome::sendFailed, "send failed"},
}};

}  // namespace

std::string_view shotOutcomeText(ShotOutcome outcome) {
    for (const auto& [value, text] : outcomeTexts) {
        if (value == outcome) return text;
    }
    return {};
}

std::optional<ShotOutcome> shotOutcomeFromText(std::string_view text) {
    for (const auto& [value, name] : outcomeTexts) {
        if (name == text) return value;
    }
    return std::nullopt;
}

}  // namespace taltrix
