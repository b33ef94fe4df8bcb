// An Open Connect simulator's replies: the TCP stream in reads cut by the
// input through the splitter, the reply reader and the receiver, and the
// same bytes read as one reply.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "bridge/shot/json_scalars.h"
#include "bridge/shot/open_connect_receiver.h"
#include "bridge/shot/open_connect_reply.h"
#include "fuzz/simulator_fuzz_support.h"

using fuzzing::CheckingWriter;
using fuzzing::NullStatus;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    taltrix::SimulatorState state;
    NullStatus status;
    CheckingWriter device;
    taltrix::ClubCommandSender clubCommand(state, status, &device);
    taltrix::OpenConnectReceiver receiver(state, status, clubCommand);

    const std::size_t step = size > 0 ? 1 + data[0] % 32 : 1;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (std::size_t offset = 0; offset < text.size(); offset += step) receiver.receive(text.substr(offset, step));
    if (state.currentClub.size() > 2 || !std::isfinite(state.distanceYards)) std::abort();
    // A lie is one of the table's, or none.
    bool knownLie = false;
    for (const std::string_view lie : {"", "Bunker", "Rough", "High Rough", "Fairway", "Green", "Tee"}) {
        knownLie = knownLie || state.surface == lie;
    }
    if (!knownLie) std::abort();

    if (const auto reply = taltrix::readOpenConnectReply(text)) {
        if (reply->code < 0 || reply->code > 999) std::abort();
        if (reply->distanceToTarget && !std::isfinite(*reply->distanceToTarget)) std::abort();
    }
    if (const auto scalars = taltrix::JsonScalars::read(text)) {
        if (scalars->size() > text.size()) std::abort();  // every value takes at least one byte
    }
    return 0;
}
