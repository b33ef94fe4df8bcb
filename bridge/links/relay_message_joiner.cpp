#include "bridge/links/relay_message_joiner.h"

namespace taltrix::links {

RelayMessageJoiner::Outcome RelayMessageJoiner::add(std::string_view part, bool eom) {
    if (dropping_) {
        if (eom) dropping_ = false;
        return Outcome::skipped;
    }
    if (part.size() > maxMessageLength - pending_.size()) {
        pending_.clear();
        pending_.shrink_to_fit();
        // The rest of this message follows; a message ending here leaves
        // nothing to skip.
        dropping_ = !eom;
        return Outcome::tooLong;
    }
    pending_.append(part);
    if (!eom) return Outcome::partial;
    message_ = std::exchange(pending_, {});
    return Outcome::whole;
}

void RelayMessageJoiner::reset() {
    pending_.clear();
    message_.clear();
    dropping_ = false;
}

}  // namespace taltrix::links
