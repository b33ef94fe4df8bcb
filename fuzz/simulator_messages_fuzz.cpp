// Arbitrary simulator traffic: the TGC stream in reads cut by the input,
// and the same bytes as one relay message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "bridge/shot/simulator_receivers.h"
#include "fuzz/simulator_fuzz_support.h"

using fuzzing::CheckingWriter;
using fuzzing::NullStatus;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    taltrix::SimulatorState state;
    NullStatus status;
    CheckingWriter device;
    taltrix::ClubCommandSender clubCommand(state, status, &device);
    taltrix::TcpReceiver tcp(state, status, clubCommand, [] { return true; });
    taltrix::RelayReceiver relay(state, status, clubCommand);

    const std::size_t step = size > 0 ? 1 + data[0] % 32 : 1;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (std::size_t offset = 0; offset < text.size(); offset += step) tcp.receive(text.substr(offset, step));
    relay.receive(text);
    if (state.currentClub.size() > 2 || state.gameName.size() > 50 || state.playerName.size() > 20) std::abort();
    return 0;
}
