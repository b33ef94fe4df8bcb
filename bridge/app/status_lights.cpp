#include "bridge/app/status_lights.h"

namespace taltrix::app {

Rgb StatusLights::onColour(Light light) {
    switch (light) {
        case Light::tx: return txOnColour;
        case Light::rx: return rxOnColour;
        case Light::bt: return btOnColour;
    }
    return offColour;
}

void StatusLights::set(Light light, Rgb line, bool picture) {
    State& s = states_[static_cast<std::size_t>(light)];
    s.line = line;
    s.picture = picture;
    view_.showLight(light, line, picture);
}

}  // namespace taltrix::app
