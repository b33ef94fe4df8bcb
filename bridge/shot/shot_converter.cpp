#include "bridge/shot/shot_converter.h"

#include "bridge/shot/number_text.h"

namespace taltrix {

namespace {

constexpr std::string_view tgcHeader = R"({"protocol":"HXLAUNCH", "DATA":{)";
constexpr std::string_view halvexPlayHeader = R"(/launch {"protocol":"HXP", "DATA":{)";

class MessageBuilder {
public:
    explicit MessageBuilder(std::string_view header) {
        text_.reserve(400);
        text_.append(header);
    }

    MessageBuilder& field(std::string_view key, std::string_view value) {
        if (!first_) text_.push_back(',');
        first_ = false;
        text_.push_back('"');
        text_.append(key);
        text_.append("\":\"");
        text_.append(value);
        text_.push_back('"');
        return *this;
    }

    std::string finish(std::int32_t launchCode) {
        text_.append(", \"launchCode\":\"");
        text_.append(formatInteger(launchCode));
        text_.append("\"}}");
        return respace(text_);
    }

private:
    // A blank right after a quote goes, then every comma is followed by one
    // blank. The two commas that already had a blank after them (after the
    // header and before the launch code) end up with two: the simulators
    // have always been sent it that way.
    static std::string respace(const std::string& text) {
        std::string out;
        out.reserve(text.size() + 32);
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c == ' ' && i > 0 && text[i - 1] == '"') continue;
            out.push_back(c);
            if (c == ',') out.push_back(' ');
        }
        return out;
    }

    std::string text_;
    bool first_ = true;
};

}  // namespace

Simulator simulatorFromSetting(std::string_view setting) {
    return setting == "HalvexPlay" ? Simulator::HalvexPlay : Simulator::TGC;
}

std::string_view simulatorSettingText(Simulator simulator) {
    return simulator == Simulator::HalvexPlay ? "HalvexPlay" : "TGC";
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
