// Feeds arbitrary launch-monitor text, cut into chunks by the input itself,
// through the whole shot road, and checks what must hold whatever arrives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "bridge/shot/json_scalars.h"
#include "bridge/shot/open_connect_message.h"
#include "bridge/shot/shot_pipeline.h"

namespace {

class CheckingOutlet final : public taltrix::SimulatorOutlet {
public:
    bool isUp() const override { return true; }
    void send(std::string_view message) override {
        // Every message is one line of the simulator's form.
        if (!(message.starts_with("{\"protocol\":\"HXLAUNCH\"") || message.starts_with("/launch {"))) std::abort();
        if (!message.ends_with("\"}}") || message.find('\n') != std::string_view::npos) std::abort();
    }
};

// Open Connect's message, whatever the device wrote, is one JSON object.
class CheckingShotOutlet final : public taltrix::ShotOutlet {
public:
    bool isUp() const override { return true; }
    void sendShot(const taltrix::ShotRecord& shot, const taltrix::PreciseShot& precise) override {
        const std::string message = taltrix::openConnectShot(shot, precise, 1);
        const auto scalars = taltrix::JsonScalars::read(message);
        if (!scalars || !scalars->isObject()) std::abort();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    taltrix::SimulatorState state;
    CheckingOutlet outlet;
    CheckingShotOutlet openConnect;
    taltrix::ShotPipeline pipeline(state, {&outlet, &outlet, nullptr, &openConnect});
    if (size > 0 && (data[0] & 1)) {
        pipeline.setSimulator(taltrix::Simulator::HalvexPlay);
        state.currentClub = "I7";
    } else if (size > 0 && (data[0] & 2)) {
        pipeline.setSimulator(taltrix::Simulator::OpenConnect);
    }
    // The first bytes choose chunk lengths, the rest is the text.
    const std::size_t cuts = size > 1 ? data[1] % 8 : 0;
    std::size_t at = 2 + cuts;
    if (at > size) at = size;
    const std::string_view text(reinterpret_cast<const char*>(data) + at, size - at);
    std::size_t offset = 0;
    for (std::size_t i = 0; i < cuts && offset < text.size(); ++i) {
        const std::size_t length = 1 + data[2 + i] % 64;
        pipeline.receiveChunk(text.substr(offset, length));
        offset += length;
    }
    if (offset < text.size()) pipeline.receiveChunk(text.substr(offset));
    if (pipeline.framer().buffered().size() > taltrix::ShotFramer::maxBuffered) std::abort();
    return 0;
}
