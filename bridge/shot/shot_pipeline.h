// The whole road of a shot inside the bridge: received text is framed,
// parsed, converted for the selected simulator and routed to its link.
#pragma once

#include <string_view>

#include "bridge/shot/shot_converter.h"
#include "bridge/shot/shot_framer.h"
#include "bridge/shot/shot_record.h"
#include "bridge/shot/shot_router.h"
#include "bridge/shot/simulator_state.h"

namespace taltrix {

class ShotPipeline {
public:
    ShotPipeline(const SimulatorState& state, SimulatorOutlets outlets, RawDataBox* rawBox = nullptr,
                 Indicator* receiveIndicator = nullptr);

    ShotPipeline(const ShotPipeline&) = delete;
    ShotPipeline& operator=(const ShotPipeline&) = delete;

    // A chunk of launch-monitor text, one character per byte.
    void receiveChunk(std::string_view chunk) { framer_.receiveChunk(chunk); }

    void setSimulator(Simulator simulator) { simulator_ = simulator; }
    Simulator simulator() const { return simulator_; }
    void setOutlets(SimulatorOutlets outlets) { router_.setOutlets(outlets); }
    const SimulatorOutlets& outlets() const { return router_.outlets(); }

    const ShotRecord& lastShot() const { return shot_; }
    const PreciseShot& lastPrecise() const { return precise_; }
    ShotFramer& framer() { return framer_; }

private:
    void handleMessage(std::string_view message);

    const SimulatorState& state_;
    Simulator simulator_ = Simulator::TGC;
    ShotRecord shot_;
    PreciseShot precise_;
    ShotRouter router_;
    ShotFramer framer_;
};

}  // namespace taltrix
