// The WebSocket layer, top of the engine: message settings, the connection
// state that the close handshake moves, the close record of a close this side
// starts, and the send and receive bookkeeping (queued output, bytes sent, the
// payload kept for DataInText). It runs the opening handshake as a GET
// transaction of the HTTP layer below it, and frames over that layer's
// stream once the upgrade is accepted.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "control/websocket/close.h"
#include "control/websocket/frame_reader.h"
#include "control/websocket/frame_writer.h"
#include "control/websocket/http_layer.h"

namespace morvane {

class WebSocketLayer final : private StreamListener {
public:
    enum class State : int { Connecting = 0, Open = 1, Closing = 2, Closed = 3 };

    // Whether a close with output still queued must first get it out: the
    // transport's Linger setting, read when Disconnect runs.
    using LingerSetting = std::function<bool()>;

    // Borrows the context and the HTTP layer below for its lifetime, and
    // listens to the HTTP layer's stream.
    WebSocketLayer(EngineContext& context, HttpLayer& below, LingerSetting linger);
    ~WebSocketLayer();
    WebSocketLayer(const WebSocketLayer&) = delete;
    WebSocketLayer& operator=(const WebSocketLayer&) = delete;

    static std::span<const Setting<WebSocketLayer>> settings();

    State state() const { return state_; }
    // Connected as the control reports it: the socket is connected and the
    // WebSocket is opening or open.
    bool connected() const;

    int dataFormat() const { return dataFormat_; }
    void setDataFormat(int format) { dataFormat_ = format; }
    std::int32_t bytesSent() const { return bytesSent_; }
    std::int32_t maxFrameSize() const { return maxFrameSize_; }
    bool bufferMessage() const { return bufferMessage_; }
    bool singlePacketMode() const { return singlePacketMode_; }
    // StrictProtocol: hold the server to RFC 6455. A frame that breaks a
    // rule fails the connection: Error 4005 (a protocol error, closed with
    // 1002) or 4006 (text or a close reason that is not UTF-8, closed with
    // 1007), and nothing of the frame is delivered. Off, frames are checked
    // for their structure only.
    bool strictProtocol() const { return strictProtocol_; }
    // ClosedCleanly: the last connection ended with the close handshake,
    // whichever side began it; false when the connection dropped or failed.
    bool closedCleanly() const { return closedCleanly_; }
    std::size_t pendingOutputSize() const { return pendingOutput_.size(); }
    // MaxMessageSize: the most bytes one incoming message (all its fragments
    // together) may announce or carry; below 1, no cap. A larger message is
    // refused before any of it is stored: Error 4004 "Message Too Big", a
    // close frame with 1009, and the connection ends.
    std::int32_t maxMessageSize() const { return maxMessageSize_; }
    // DisconnectStatusCode: the code of the next close this side starts, or
    // below 0 for 1000. A code that does not fit the frame's two bytes is
    // refused with 380.
    std::int32_t disconnectStatusCode() const { return disconnectStatusCode_; }
    int setDisconnectStatusCode(std::int64_t code);
    // The close record: what this side's last close sent, and what it
    // reports when the peer's reply or the end of the connection completes it.
    const websocket::CloseRecord& closeRecord() const { return close_.ownRecord(); }

    // DataInText: takes the payload kept by SinglePacketMode, lets reception
    // go on and runs one receive pass over what is already buffered, which
    // may deliver (and keep) the next message.
    std::string takeDataInText();

    // The operations behind the control's methods. Each returns 0 or an error
    // code and leaves the description in the last-error text; events reach
    // the sink as they happen. Texts are 8-bit in the code page unless said
    // otherwise. The bodies live in websocket_operations.cpp.

    // Connect(URL): parses the ws/wss URL and opens the connection with the
    // opening handshake, blocking until it ends (Timeout is the limit).
    // 104 when already open, 143 while an HTTP action runs, 152 without a
    // host, the handshake's and the transport's codes otherwise.
    int connect(std::string_view url);
    // The Connected put: True opens the URL of the last connect (as connect
    // does after parsing), False runs disconnect.
    int setConnected(bool connected);
    // Starts or completes the close handshake; 0 and nothing else when the
    // connection is not open. 10035 while output is queued, 4002 when the
    // close frame cannot be written, 301 when a wait step fails.
    int disconnect();
    // Send, DataToSend and DataToSendB: one message of type DataFormat (text
    // or binary chosen from the bytes for 0); with Timeout 0 a payload longer
    // than MaxFrameSize travels as several messages. Sets BytesSent.
    int send(std::span<const std::uint8_t> data);
    // SendText: one text message. The text arrives as UTF-8: the control
    // converts its caller's text straight to UTF-8, so nothing is lost to the
    // code page on the way. Written with the blocking writer whatever Timeout
    // is; sets BytesSent to the UTF-8 length.
    int sendText(std::string_view utf8Text);
    // SendFile: the file's contents as one message, read in MaxFrameSize
    // chunks. 3 without a name or when the file cannot be opened, 4103 with
    // Timeout 0.
    int sendFile(std::string_view fileName);
    // DoEvents: one wait step of message processing; always 0.
    int doEvents();
    // Interrupt: ends the blocking operation in progress (it returns 301
    // "Interrupted."); does nothing when none is running. Always 0.
    int interrupt();

private:
    // The upgrade request, with a new key kept for the check.
    int composeRequest(std::string& request);
    // The upgrade has been accepted: from here the layer owns the
    // connection, and frames are parsed from a clean start.
    void beginOpenConnection();

    // The stream's reports (websocket_transport.cpp): bytes after the
    // upgrade response while connecting, frames once open, the end of the
    // connection.
    void streamConnected(int code) override;
    int streamReceived(std::span<const std::uint8_t> data, bool endOfLine) override;
    std::span<std::uint8_t> receiveRoom() override;
    int receivedInPlace(std::size_t count) override;
    std::size_t bytesAwaited() override;
    void streamReadyToSend() override;
    void streamClosed(int code, const std::string& description) override;

    void raiseReadyToSend();

    EngineContext& context_;
    HttpLayer& http_;
    LingerSetting linger_;

    State state_ = State::Closed;

    std::int32_t maxFrameSize_ = 131072;
    std::int32_t maxMessageSize_ = static_cast<std::int32_t>(websocket::kDefaultMaxMessageSize);
    std::int32_t disconnectStatusCode_ = -1;
    std::string disconnectStatusDescription_;
    bool bufferMessage_ = false;
    bool singlePacketMode_ = false;
    bool strictProtocol_ = false;
    bool closedCleanly_ = false;
    std::int32_t dataFormat_ = 0;
    std::int32_t bytesSent_ = 0;

    // Received and not yet parsed; the payload kept for DataInText.
    std::string frameBuffer_;
    std::string keptPayload_;
    bool dataInEom_ = false;

    // Serialised frames the socket did not take yet in non-blocking mode.
    std::string pendingOutput_;
    bool sending_ = false;
    bool flushing_ = false;
    // Frames that came due while a message was on its way out (a pong, a
    // close reply, a message sent from an event handler); they follow it.
    std::string deferredOutput_;

    // The buffer messages are framed in, kept for the next message so that
    // payloads of megabytes do not cost a fresh allocation (and fresh pages)
    // each time. A writer running inside another's wait step finds it lent
    // out and frames in one of its own.
    websocket::FrameBuffer spareFrames_;

    // The Sec-WebSocket-Key sent, kept until the response is checked.
    std::string handshakeKey_;

    // The handshake's GET transaction and the 101 check.
    int runUpgrade();
    // A receive pass: an event already taken from the reader, the fresh
    // bytes where they lie, then what waits in frameBuffer_; whatever cannot
    // be parsed yet stays there.
    void parseFrames(std::span<const std::uint8_t> fresh = {}, std::optional<websocket::FrameEvent> ready = {});
    // Open, no pass running and nothing waiting in frameBuffer_: received
    // bytes go to the reader as they come.
    bool parsingAsBytesCome() const;
    void handleFrameEvent(const websocket::FrameEvent& event);
    // Tells the listener how far a long payload has come (dataArriving).
    void announceArrival();
    void applyCloseAction(const websocket::CloseAction& action);
    // The reader stopped on a frame: Error `error`, a close frame with
    // `closeCode`, and the socket closed without waiting for the reply.
    void failConnection(int error, std::string_view description, int closeCode);
    void raiseCloseEvents(const websocket::CloseRecord& record);
    // The message writer: queued output first, then the serialised frames,
    // with the blocking send; while another message is on its way, the
    // frames go out right behind it. 4001 when the socket fails, 301 when a
    // wait step does.
    int writeMessage(std::span<const std::uint8_t> frames);
    // The same for a message still to be framed: each frame goes out as soon
    // as it is serialised, so a large message is on the wire while the rest
    // of it is being masked.
    int writeMessage(websocket::MessageFramer& framer);
    // Ends a write: sends what was deferred behind it, lets the next writer
    // in, and turns a socket failure into 4001.
    int finishWriting(int code);
    // A control frame: at once, or after the message being written.
    int sendControl(std::uint8_t opcode, std::span<const std::uint8_t> payload);
    // PendingOutput and its send: queued bytes first, then `data`; in
    // non-blocking mode what the socket does not take is queued and 10035
    // returned, and a send that went through raises ReadyToSend.
    int sendThroughPendingOutput(std::span<const std::uint8_t> data);

    websocket::FrameReader frames_;
    websocket::CloseHandshake close_;
    // frameBuffer_ bytes before this offset are parsed; the buffer is cut
    // once per delivery, so many frames in one read cost linear time.
    std::size_t parsedOffset_ = 0;
    // A receive pass is running; a pass asked for from inside one (by a
    // handler reading DataInText) is left to the running one.
    bool parsing_ = false;
    // The reader's frame whose payload was last announced as arriving.
    std::optional<std::uint64_t> announcedFrame_;
};

}  // namespace morvane
