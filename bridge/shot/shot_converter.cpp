#include "bridge/shot/shot_converter.h"

#include "bridge/shot/number_text.h"

namespace taltrix {

namespace {

// The messages as the simulators receive them. Building them comes down to
// concatenation followed by two fixed replacements: a blank right after a
// quote goes, then every comma gets one blank after it; the commas that
// already had one (after the header and before the launch code) end up with
// two. The fixed parts below are written in that final form, and only the
// values go through the replacements, so no second pass over the whole
// message is needed.
constexpr std::string_view tgcHeader = R"({"protocol":"HXLAUNCH",  "DATA":{)";
constexpr std::string_view halvexPlayHeader = R"(/launch {"protocol":"HXP",  "DATA":{)";

class MessageBuilder {
public:
    explicit MessageBuilder(std::string_view header) {
        text_.reserve(320);
        text_.append(header);
    }

    MessageBuilder& field(std::string_view key, std::string_view value) {
        if (!first_) text_.append(", ");
        first_ = false;
        text_.push_back('"');
        text_.append(key);
        text_.append("\":\"");
        appendValue(value);
        text_.push_back('"');
        return *this;
    }

    std::string finish(std::int32_t launchCode) {
        text_.append(",  \"launchCode\":\"");
        text_.append(formatInteger(launchCode));
        text_.append("\"}}");
        return std::move(text_);
    }

private:
    // A value comes right after a quote. Numbers never hold a blank or a
    // comma; text (the simulator's club) goes through the replacements.
    void appendValue(std::string_view value) {
        char previous = '"';
        for (const char c : value) {
            const bool blankAfterQuote = c == ' ' && previous == '"';
            previous = c;
            if (blankAfterQuote) continue;
            text_.push_back(c);
            if (c == ',') text_.push_back(' ');
        }
    }

    std::string text_;
    bool first_ = true;
};

}  // namespace

Simulator simulatorFromSetting(std::string_view setting) {
    if (setting == "HalvexPlay") return Simulator::HalvexPlay;
    if (setting == "OpenConnect") return Simulator::OpenConnect;
    return Simulator::TGC;
}

std::string_view simulatorSettingText(Simulator simulator) {
    switch (simulator) {
        case Simulator::HalvexPlay: return "HalvexPlay";
        case Simulator::OpenConnect: return "OpenConnect";
        case Simulator::TGC: break;
    }
    return "TGC";
}

std::string_view simulatorDisplayName(Simulator simulator) {
    switch (simulator) {
        case Simulator::HalvexPlay: return "Halvex Play";
        case Simulator::OpenConnect: return "Open Connect";
        case Simulator::TGC: break;
    }
    return "TGC";
}

std::string ShotConverter::convert(const ShotRecord& shot, Simulator simulator, std::string_view currentClub) {
    if (simulator == Simulator::HalvexPlay) {
        return MessageBuilder(halvexPlayHeader)
            .field("club", currentClub)
            .field("ballSpeedMPH", formatF1(shot.ballSpeedMPH))
            .field("ballDirection", formatF1(shot.ballDirection))
            .field("ballAngle", formatF1(shot.ballAngle))
            .field("spinAxis", formatF1(shot.spinAxis))
            .field("sideSpin", formatInteger(shot.sideSpin))
            .field("backSpin", formatInteger(shot.backSpin))
            .finish(shot.launchCode);
    }
    return MessageBuilder(tgcHeader)
        .field("ballSpeedMPH", formatF1(shot.ballSpeedMPH))
        .field("ballSpeedKMH", formatF1(shot.ballSpeedKMH))
        .field("ballDirection", formatF1(shot.ballDirection))
        .field("ballAngle", formatF1(shot.ballAngle))
        .field("spinAxis", formatF1(shot.spinAxis))
        .field("sideSpin", formatInteger(shot.sideSpin))
        .field("backSpin", formatInteger(shot.backSpin))
        .field("clubSpeedMPH", formatF1(shot.clubSpeedMPH))
        .field("clubSpeedKMH", formatF1(shot.clubSpeedKMH))
        .field("clubFace", formatWhole(shot.clubFace))
        .field("swingPath", formatWhole(shot.swingPath))
        .finish(shot.launchCode);
}

}  // namespace taltrix
