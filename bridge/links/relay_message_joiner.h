// The relay's messages put back together from the parts the control hands
// over. A message may reach DataIn in several parts (EOM false until the last
// one); read part by part, the pairs of one message would be cut apart and
// each part misread or rejected. The parts are joined until EOM, so that a
// whole message is interpreted once.
//
// The joined text is bounded: relay messages are a few hundred characters,
// and a peer that never ends its message must not grow the bridge without
// limit. A message that passes the bound is dropped whole, the drop is
// reported once, and its remaining parts are passed over up to its EOM.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace taltrix::links {

class RelayMessageJoiner {
public:
    static constexpr std::size_t maxMessageLength = 65536;

    enum class Outcome {
        partial,  // more parts to come; nothing to interpret yet
        whole,    // message() holds one whole message
        tooLong,  // the message passed the bound and is dropped (reported once)
        skipped,  // a further part of a dropped message
    };

    // One DataIn part, in arrival order.
    Outcome add(std::string_view part, bool eom);

    // The message that the last add() completed; taking it empties the joiner.
    std::string takeMessage() { return std::exchange(message_, {}); }

    // The connection ended: a half message is never completed by the next
    // connection's parts.
    void reset();

    std::size_t pendingLength() const { return pending_.size(); }

private:
    std::string pending_;
    std::string message_;
    bool dropping_ = false;
};

}  // namespace taltrix::links
