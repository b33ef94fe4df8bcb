#include "bridge/shot/tgc_message_splitter.h"

#include "bridge/shot/text_filters.h"

namespace taltrix {

namespace {

bool isBlank(std::string_view text) { return filterPrintable(text).empty(); }

constexpr std::string_view jsonPrefix = "#json";

}  // namespace

void TgcMessageSplitter::separateLeadingText(std::vector<std::string>& messages) {
    // Text before a message's opening brace belongs to it only when it is
    // the "#json " prefix; anything else is stray and read on its own, so
    // that it cannot spoil the message behind it.
    const std::string_view leading = std::string_view(pending_).substr(messageStart_, scanned_ - messageStart_);
    const std::string printable = filterPrintable(leading);
    if (printable.empty() || printable.ends_with(jsonPrefix)) return;
    messages.emplace_back(leading);
    messageStart_ = scanned_;
}

void TgcMessageSplitter::reset() {
    pending_.clear();
    scanned_ = 0;
    messageStart_ = 0;
    depth_ = 0;
    inQuotes_ = false;
    escaped_ = false;
    sawBrace_ = false;
}

std::vector<std::string> TgcMessageSplitter::feed(std::string_view received) {
    std::vector<std::string> messages;
    if (pending_.empty() && received.find_first_of("{}") == std::string_view::npos) {
        // Not a braced message at all: read it as it stands, as TGC's
        // messages were always read. Line ends on their own are no message,
        // and the start of a "#json " prefix waits for its message.
        const std::string printable = filterPrintable(received);
        if (printable.empty()) return messages;
        if (!jsonPrefix.starts_with(printable)) {
            messages.emplace_back(received);
            return messages;
        }
    }

    pending_.append(received);
    for (; scanned_ < pending_.size(); ++scanned_) {
        const char c = pending_[scanned_];
        if (inQuotes_) {
            if (escaped_) {
                escaped_ = false;
            } else if (c == '\\') {
                escaped_ = true;
            } else if (c == '"') {
                inQuotes_ = false;
            }
            continue;
        }
        if (c == '"') {
            inQuotes_ = true;
        } else if (c == '{') {
            if (depth_ == 0) separateLeadingText(messages);
            ++depth_;
            sawBrace_ = true;
        } else if (c == '}' && depth_ > 0) {
            if (--depth_ == 0) {
                messages.push_back(pending_.substr(messageStart_, scanned_ + 1 - messageStart_));
                messageStart_ = scanned_ + 1;
                sawBrace_ = false;
            }
        }
    }

    // Keep only the unfinished tail.
    pending_.erase(0, messageStart_);
    scanned_ -= messageStart_;
    messageStart_ = 0;
    if (!sawBrace_ && isBlank(pending_)) {
        reset();
    } else if (pending_.size() > maxPending) {
        messages.push_back(pending_);
        reset();
    }
    return messages;
}

}  // namespace taltrix
