#include "bridge/shot/shot_framer.h"

#include <algorithm>

#include "bridge/shot/text_filters.h"

namespace taltrix {

ShotFramer::ShotFramer(MessageHandler onMessage, RawDataBox* rawBox, Indicator* receiveIndicator)
    : onMessage_(std::move(onMessage)), rawBox_(rawBox), receiveIndicator_(receiveIndicator) {
    buffer_.reserve(maxBuffered + 256);
}

void ShotFramer::receiveChunk(std::string_view chunk) {
    if (rawBox_ != nullptr) {
        std::string shown;
        shown.reserve(chunk.size() + 6);
        shown.append("\r\n").append(chunk).append("\r\n\r\n");
        rawBox_->append(shown);
    }
    // Line ends and blanks are outside the charset, so this also joins a
    // message the device broke over several lines.
    appendShotCharset(buffer_, chunk);

    for (;;) {
        const std::size_t start = buffer_.find(messagePrefix);
        if (start == std::string::npos) {
            keepOnlyWhatMayBecomeAMessage();
            return;
        }
        const std::size_t end = buffer_.find(messageTerminator, start + messagePrefix.size());
        if (end == std::string::npos) {
            keepOnlyWhatMayBecomeAMessage();
            return;
        }
        // A message never holds "ES16Prt" inside it, so an earlier start
        // without its own "End" is a message the device broke off; the
        // last start before this "End" is the one that belongs to it.
        const std::size_t from = buffer_.rfind(messagePrefix, end - messagePrefix.size());
        const std::size_t next = end + messageTerminator.size();
        const std::string message = buffer_.substr(from, next - from);
        // The buffer is consistent before anything runs that may hand us
        // the next chunk.
        buffer_.erase(0, next);
        if (receiveIndicator_ != nullptr) receiveIndicator_->switchOn();
        onMessage_(message);
    }
}

void ShotFramer::keepOnlyWhatMayBecomeAMessage() {
    const std::size_t lastStart = buffer_.rfind(messagePrefix);
    if (lastStart != std::string::npos) {
        // No "End" follows the last start: only that start can still
        // complete, once its "End" arrives.
        buffer_.erase(0, lastStart);
        if (buffer_.size() > maxBuffered) buffer_.clear();
        return;
    }
    // No start at all: keep just a tail that may be the first letters of
    // "ES16Prt" split off by the chunking.
    std::size_t keep = std::min(buffer_.size(), messagePrefix.size() - 1);
    while (keep > 0 && !messagePrefix.starts_with(std::string_view(buffer_).substr(buffer_.size() - keep))) --keep;
    buffer_.erase(0, buffer_.size() - keep);
}

}  // namespace taltrix
