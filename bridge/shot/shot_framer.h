// Cuts complete shot messages out of the text the launch monitor sends.
//
// The device's text arrives in chunks of any size, broken by line ends and
// mixed with other output. A message runs from "ES16Prt" through the first
// "End" after it. Every complete message is handed on as soon as it is
// complete, in order; whatever may still become a message is kept for the
// next chunk, and nothing else is.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "bridge/shot/ports.h"

namespace taltrix {

class ShotFramer {
public:
    using MessageHandler = std::function<void(std::string_view message)>;

    static constexpr std::string_view messagePrefix = "ES16Prt";
    static constexpr std::string_view messageTerminator = "End";
    // A real message is under 200 characters; a start that has gone this
    // long without its terminator is not going to become one.
    static constexpr std::size_t maxBuffered = 2000;

    // `rawBox` and `receiveIndicator` may be null (no window).
    ShotFramer(MessageHandler onMessage, RawDataBox* rawBox = nullptr, Indicator* receiveIndicator = nullptr);

    // Handles one received chunk, one character per byte.
    void receiveChunk(std::string_view chunk);

    // Drops whatever is buffered (start-up).
    void reset() { buffer_.clear(); }

    const std::string& buffered() const { return buffer_; }

private:
    void keepOnlyWhatMayBecomeAMessage();

    MessageHandler onMessage_;
    RawDataBox* rawBox_;
    Indicator* receiveIndicator_;
    std::string buffer_;  // filtered text not yet consumed (`receiveBuffer`)
};

}  // namespace taltrix
