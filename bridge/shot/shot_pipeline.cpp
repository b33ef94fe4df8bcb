#include "bridge/shot/shot_pipeline.h"

#include "bridge/shot/shot_parser.h"

namespace taltrix {

ShotPipeline::ShotPipeline(const SimulatorState& state, SimulatorOutlets outlets, RawDataBox* rawBox,
                           Indicator* receiveIndicator)
    : state_(state),
      router_(outlets, state),
      framer_([this](std::string_view message) { handleMessage(message); }, rawBox, receiveIndicator) {}

void ShotPipeline::handleMessage(std::string_view message) {
    if (!ShotParser::parse(message, shot_, precise_)) return;
    if (simulator_ == Simulator::OpenConnect) {
        // Its link numbers the shots, so it builds the message itself.
        router_.routeShot(shot_, precise_);
        return;
    }
    router_.route(simulator_, ShotConverter::convert(shot_, simulator_, state_.currentClub));
}

}  // namespace taltrix
