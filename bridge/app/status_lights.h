// The three status lights: each a line (`ln_TX`, `ln_RX`, `ln_BT`) whose
// colour is the light's state, and a picture that shows the matching on or
// off source picture (`pic_ES_status`, `pic_HX_status`, `pic_BT_status`).
#pragma once

#include <array>
#include <cstddef>

namespace taltrix::app {

struct Rgb {
    int r = 0;
    int g = 0;
    int b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

enum class Light { tx, rx, bt };

// The colours as designed; note that the two greens differ.
inline constexpr Rgb txOnColour{0, 255, 0};
inline constexpr Rgb rxOnColour{0, 225, 0};
inline constexpr Rgb btOnColour{0, 125, 255};
inline constexpr Rgb offColour{125, 125, 125};

class LightsView {
public:
    virtual ~LightsView() = default;
    virtual void showLight(Light light, Rgb lineColour, bool pictureOn) = 0;
};

class StatusLights {
public:
    explicit StatusLights(LightsView& view) : view_(view) {}

    static Rgb onColour(Light light);

    void switchOn(Light light) { set(light, onColour(light), true); }
    void switchOff(Light light) { set(light, offColour, false); }
    // The line shows the light's on colour.
    bool isOn(Light light) const { return state(light).line == onColour(light); }
    Rgb lineColour(Light light) const { return state(light).line; }
    bool pictureOn(Light light) const { return state(light).picture; }

private:
    struct State {
        Rgb line = offColour;
        bool picture = false;
    };
    void set(Light light, Rgb line, bool picture);
    const State& state(Light light) const { return states_[static_cast<std::size_t>(light)]; }

    LightsView& view_;
    std::array<State, 3> states_{};
};

}  // namespace taltrix::app
