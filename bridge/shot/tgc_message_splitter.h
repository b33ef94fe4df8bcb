// Cuts TGC's TCP stream into whole messages.
//
// TCP keeps no message boundaries: one read may hold two messages, or half
// of one. A message is complete when its braces balance (braces inside
// quoted text do not count); whatever follows the last complete message is
// kept for the next read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace taltrix {

class TgcMessageSplitter {
public:
    // An incomplete message that grows past this is not going to complete.
    static constexpr std::size_t maxPending = 16 * 1024;

    // Returns the texts to interpret, in order. A received text with no
    // brace at all (and nothing pending) is returned as it stands. An
    // unfinished tail that outgrows the bound is returned too, so that it is
    // reported rather than silently dropped.
    std::vector<std::string> feed(std::string_view received);

    const std::string& pending() const { return pending_; }
    void reset();

private:
    void separateLeadingText(std::vector<std::string>& messages);

    std::string pending_;
    // Scan state over pending_, so that each byte is looked at once.
    std::size_t scanned_ = 0;
    std::size_t messageStart_ = 0;
    int depth_ = 0;
    bool inQuotes_ = false;
    bool escaped_ = false;
    bool sawBrace_ = false;
};

}  // namespace taltrix
