// The one interface between the layers of the engine's transport stack.
//
// Each layer owns or borrows the stream below it and offers the same
// interface to the layer above: the socket at the bottom, then (when they
// apply) the firewall or proxy tunnel and the TLS channel, then the HTTP
// upgrade, and the WebSocket layer on top. Sends travel down through
// ByteStream; what happens travels up through the StreamListener the layer
// above registered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace morvane {

class Waiter;

// What a stream reports to the layer above it.
class StreamListener {
public:
    // The connection is complete (0) or has failed (a socket or channel
    // error code). Comes once per connect.
    virtual void streamConnected(int code) = 0;
    // Received bytes: a line without its terminator (endOfLine true), or
    // bytes as they came. Returning 200 reports that they could not be
    // stored.
    virtual int streamReceived(std::span<const std::uint8_t> bytes, bool endOfLine) = 0;
    // Room of the listener's own into which the stream may receive the next
    // bytes directly, sparing their copy through streamReceived (a large
    // payload that is still coming in); empty when it has none. The stream
    // asks right before a receive that has nothing ahead of it and answers
    // with receivedInPlace before anything else can run.
    virtual std::span<std::uint8_t> receiveRoom() { return {}; }
    // `count` bytes (at least one) were received at the start of the room
    // receiveRoom gave. Answers as streamReceived does.
    virtual int receivedInPlace(std::size_t /*count*/) { return 0; }
    // How many more bytes the listener surely needs before it can make
    // anything of what it receives (the rest of a payload it is collecting),
    // so that the wait for them need not wake for less; 0 when it cannot say.
    virtual std::size_t bytesAwaited() { return 0; }
    // The stream can take data again after a send that would have blocked.
    virtual void streamReadyToSend() = 0;
    // An established connection ended; `code` is the error that ended it, 0
    // for an orderly end.
    virtual void streamClosed(int code, const std::string& description) = 0;

protected:
    ~StreamListener() = default;
};

// A layer that hands received bytes up unchanged (while `through`) answers
// for the room and the wait of the layer above it.
inline std::span<std::uint8_t> roomAbove(StreamListener* above, bool through) {
    return through && above ? above->receiveRoom() : std::span<std::uint8_t>{};
}
inline std::size_t awaitedAbove(StreamListener* above, bool through) {
    return through && above ? above->bytesAwaited() : 0;
}
inline int receivedInPlaceAbove(StreamListener* above, std::size_t count) {
    return above ? above->receivedInPlace(count) : 0;
}

class ByteStream {
public:
    virtual ~ByteStream() = default;

    virtual void setListener(StreamListener* listener) = 0;

    // Starts connecting to host:port without waiting; the outcome arrives as
    // streamConnected. 0, or the error that stopped it before it started.
    virtual int connect(std::string_view host, int port) = 0;
    // Hands bytes down without waiting. `accepted` (optional) gets how many
    // were taken. 0 when all were, 10035 when only part (or nothing) could
    // be and the rest must wait for streamReadyToSend, 10057 when not
    // connected, or another error.
    virtual int send(std::span<const std::uint8_t> data, std::size_t* accepted = nullptr) = 0;
    // False holds received bytes back below; True lets them up again,
    // delivering what arrived meanwhile.
    virtual void setAcceptData(bool accept) = 0;
    virtual bool acceptData() const = 0;
    // Ends the connection. `errorCode` is what the layers above hear as the
    // reason (0 for an orderly end). Returns the error of the close itself.
    virtual int close(int errorCode = 0) = 0;

    // A connection exists or is being made.
    virtual bool isOpen() const = 0;
    // The connection is up and bytes can flow.
    virtual bool isConnected() const = 0;
};

// The outcome of a connect, as the listener records it from streamConnected.
struct ConnectOutcome {
    bool finished = false;
    int code = 0;

    void reset() { *this = {}; }
    void complete(int result) {
        finished = true;
        code = result;
    }
};

class EngineContext;

// Connect as the control's blocking operations use it: starts the connect and
// runs wait steps until `outcome` is complete. The connection phase is
// limited by ConnectionTimeout when set. A failed wait step closes the
// stream and returns 301 with the step's description; a stream closed from an
// event handler before completion gives 10053.
int connectAndWait(ByteStream& stream, EngineContext& context, std::string_view host, int port,
                   const ConnectOutcome& outcome);

// Sends the whole block, keeping the rate limit and running wait steps while
// the stream cannot take more. 301 when a wait step fails.
int sendBlocking(ByteStream& stream, EngineContext& context, std::span<const std::uint8_t> data);

}  // namespace morvane
