// Relay traffic as the control hands it over: parts of messages with their
// end-of-message flags chosen by the input, joined and interpreted.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "bridge/links/relay_message_joiner.h"
#include "bridge/shot/simulator_receivers.h"
#include "fuzz/simulator_fuzz_support.h"

using fuzzing::CheckingWriter;
using fuzzing::NullStatus;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    taltrix::SimulatorState state;
    NullStatus status;
    CheckingWriter device;
    taltrix::ClubCommandSender clubCommand(state, status, &device);
    taltrix::RelayReceiver relay(state, status, clubCommand);
    taltrix::links::RelayMessageJoiner joiner;

    // Each part: one length byte (its top bit is the EOM flag), then the text.
    std::size_t at = 0;
    while (at < size) {
        const bool eom = (data[at] & 0x80) != 0;
        std::size_t length = data[at] & 0x7F;
        ++at;
        if (length > size - at) length = size - at;
        const std::string_view part(reinterpret_cast<const char*>(data) + at, length);
        at += length;
        if (joiner.add(part, eom) == taltrix::links::RelayMessageJoiner::Outcome::whole) {
            const std::string message = joiner.takeMessage();
            if (message.size() > taltrix::links::RelayMessageJoiner::maxMessageLength) std::abort();
            relay.receive(message);
        }
        if (joiner.pendingLength() > taltrix::links::RelayMessageJoiner::maxMessageLength) std::abort();
    }
    return 0;
}
