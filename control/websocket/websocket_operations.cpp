// The operations behind the control's methods: every argument check, state
// rule and setting a method touches, the opening handshake through the HTTP
// layer, and the writers of messages and the close frame.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "control/engine/engine_errors.h"
#include "control/engine/engine_events.h"
#include "control/engine/socket_errors.h"
#include "control/websocket/accept_key.h"
#include "control/websocket/close.h"
#include "control/websocket/frame_writer.h"
#include "control/websocket/handshake_request.h"
#include "control/websocket/random_source.h"
#include "control/websocket/upgrade_check.h"
#include "control/websocket/url.h"
#include "control/websocket/utf8.h"
#include "control/websocket/websocket_layer.h"
#include "platform/text/code_page.h"

namespace morvane {
namespace {

// File names travel in the control's code page; the file system here names
// files in UTF-8.
std::string fileSystemName(std::string_view name, int codePage) {
    if (codePage == static_cast<int>(codepage::CP_UTF8)) return std::string(name);
    const codepage::WideResult wide = codepage::multiByteToWide(static_cast<unsigned>(codePage), name);
    return wide.ok() ? codepage::utf16ToUtf8(wide.text) : std::string(name);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

constexpr std::string_view connectionCompleteText = "Websocket connection complete.";
constexpr std::string_view connectionBrokenText = "Websocket connection broken.";
constexpr std::string_view okText = "OK";
constexpr int protocolError = 1002;
constexpr std::string_view protocolErrorText = "Protocol Error";

std::span<const std::uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string_view asText(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Larger buffers are given back to the allocator after their message.
constexpr std::size_t keptBufferBytes = 256u << 10;

// Lends one of the layer's spare buffers for one message and takes it back,
// emptied, when the message is done.
class LentBuffer {
public:
    explicit LentBuffer(websocket::FrameBuffer& spare) : spare_(spare), bytes_(std::move(spare)) {
        spare_.clear();
        bytes_.clear();
    }
    LentBuffer(const LentBuffer&) = delete;
    LentBuffer& operator=(const LentBuffer&) = delete;
    ~LentBuffer() {
        if (bytes_.capacity() <= keptBufferBytes && bytes_.capacity() > spare_.capacity()) {
            bytes_.clear();
            spare_ = std::move(bytes_);
        }
    }
    websocket::FrameBuffer& operator*() { return bytes_; }

private:
    websocket::FrameBuffer& spare_;
    websocket::FrameBuffer bytes_;
};

}  // namespace

int WebSocketLayer::connect(std::string_view url) {
    // Checked before the URL is taken: a new URL may close the socket, and
    // an open connection, or a handshake under way, must survive a Connect
    // that it refuses.
    if (state_ == State::Open) return context_.fail(errc::alreadyConnected, errtext::alreadyConnected);
    if (http_.action() != HttpLayer::Action::None) return context_.fail(errc::busy, errtext::busy);
    if (const int code = http_.applyUrl(url, false)) return code;
    return setConnected(true);
}

int WebSocketLayer::setConnected(bool connect) {
    if (!connect) return disconnect();
    if (state_ == State::Open) return context_.fail(errc::alreadyConnected, errtext::alreadyConnected);
    if (http_.action() != HttpLayer::Action::None) return context_.fail(errc::busy, errtext::busy);

    state_ = State::Connecting;
    http_.setFollowRedirects(websocket::frAlways);
    http_.setKeepAlive(true);
    // The transport refuses port 0 too, but only after it has looked at the
    // address; the URL's own fault is the clearer report.
    if (!http_.host().empty() && http_.port() == 0 && !http_.isOpen()) {
        return context_.fail(errc::zeroPort, errtext::zeroRemotePort);
    }
    return runUpgrade();
}

int WebSocketLayer::composeRequest(std::string& request) {
    const std::optional<std::string> key = websocket::makeWebSocketKey(websocket::systemRandom());
    if (!key) return context_.fail(errc::randomUnavailable, "");
    handshakeKey_ = *key;
    // OtherHeaders is kept as it is sent, with exactly one line end.
    http_.setOtherHeaders(websocket::normalizeOtherHeaders(http_.otherHeaders()));
    websocket::RequestFields fields = http_.requestFields();
    fields.subProtocols = http_.subProtocols();
    request = websocket::buildUpgradeRequest(http_.currentUrl(), fields, handshakeKey_);
    return 0;
}

void WebSocketLayer::beginOpenConnection() {
    close_.opened();
    closedCleanly_ = false;
    frames_.reset();
    parsedOffset_ = 0;
    state_ = State::Open;
}

int WebSocketLayer::runUpgrade() {
    close_.beginConnecting();
    frames_.reset();
    frameBuffer_.clear();
    parsedOffset_ = 0;
    keptPayload_.clear();

    const int code = http_.runGetTransaction([this](std::string& request) { return composeRequest(request); });
    // A socket that closed on the way (a redirect to another host) has
    // reported itself closed; the handshake is still going on.
    if (code != 0) return code;
    EngineEvents* events = context_.events();
    if (http_.statusCode() != 101) {
        state_ = State::Closed;
        close_.closedWithoutUpgrade();
        // A connection that broke under the answer reports why, rather than
        // an answer that may have been cut short.
        if (const int error = http_.transportError()) return context_.failSocket(error);
        if (events) {
            events->connectionStatus(std::string(connectionBrokenText), static_cast<std::int16_t>(http_.statusCode()),
                                     http_.reasonPhrase());
        }
        return 0;
    }

    close_.opened();
    // The check puts the server's choice of subprotocol in place of the offer.
    std::string subProtocols = http_.subProtocols();
    const bool accepted = websocket::checkUpgradeResponse(http_.response().headers(), handshakeKey_, subProtocols);
    http_.setSubProtocols(subProtocols);
    if (!accepted) {
        context_.raiseError(errc::invalidHandshake, errtext::invalidHandshake);
        if (EngineEvents* sink = context_.events()) {
            sink->connectionStatus(std::string(connectionBrokenText), protocolError, std::string(protocolErrorText));
        }
        const websocket::CloseAction action = close_.failUpgrade();
        state_ = State::Closing;
        const auto payload =
            websocket::buildClosePayload(static_cast<std::uint16_t>(action.send.code), action.send.reason);
        if (const int sendCode = sendControl(websocket::kOpClose, payload)) return sendCode;
        http_.setAcceptData(true);
        return 0;
    }
    // The events come first and the state opens after them. A handler that
    // ended the connection meanwhile (it closed, or the peer did) has had the
    // close events already; the connection is not opened behind its back.
    if (events) events->connectionStatus(std::string(connectionCompleteText), 0, std::string(okText));
    if (EngineEvents* sink = context_.events()) sink->connected(0, std::string(okText));
    if (state_ != State::Connecting || !http_.isConnected()) return 0;
    beginOpenConnection();
    raiseReadyToSend();
    http_.setAcceptData(true);
    // Frames that came with the response.
    parseFrames();
    return 0;
}

int WebSocketLayer::disconnect() {
    if (state_ != State::Open) return 0;
    Waiter& waiter = context_.waiter();
    if (!pendingOutput_.empty() && (linger_() || waiter.timeout() != 0)) {
        sendThroughPendingOutput({});
        if (!pendingOutput_.empty()) return context_.fail(errc::wouldBlock, errtext::disconnectWouldBlock);
    }
    // One record for the close: the frame carries what the record keeps.
    const websocket::CloseAction action = close_.startClose(disconnectStatusCode_, disconnectStatusDescription_);
    state_ = State::Closing;
    disconnectStatusCode_ = -1;
    disconnectStatusDescription_.clear();
    if (!http_.isConnected()) {
        return context_.fail(errc::closeSendFailed, socketErrorDescription(errc::socketNotConnected));
    }

    const Waiter::BlockingOperation operation(waiter);
    const auto payload = websocket::buildClosePayload(static_cast<std::uint16_t>(action.send.code), action.send.reason);
    // A close that could not go out, or whose reply did not come in time,
    // leaves the connection closing: the caller decides what follows, and
    // the peer's reply or the end of the connection still completes it.
    if (sendControl(websocket::kOpClose, payload) != 0) {
        return context_.fail(errc::closeSendFailed, context_.lastErrorText());
    }
    // The server's reply completes the close. Without Timeout there is no
    // waiting for it, nor inside a writer's wait step, where the close frame
    // waits behind the message that is going out.
    if (waiter.timeout() == 0 || sending_) return 0;
    while (http_.isOpen() && state_ == State::Closing) {
        if (!waiter.waitStep()) return context_.fail(errc::interrupted, context_.lastErrorText());
    }
    return 0;
}

int WebSocketLayer::writeMessage(websocket::MessageFramer& framer) {
    if (!framer.drawKeys(websocket::systemRandom())) return context_.fail(errc::randomUnavailable, "");
    LentBuffer lent(spareFrames_);
    websocket::FrameBuffer& frame = *lent;
    if (sending_) {
        // Behind the message on its way, whole (see the other writer).
        frame.reserve(framer.totalSize());
        while (!framer.done()) framer.appendNext(frame);
        deferredOutput_.append(asText(frame));
        return 0;
    }
    const Waiter::BlockingOperation operation(context_.waiter());
    sending_ = true;
    int code = sendThroughPendingOutput({});
    while (code == 0 && !framer.done()) {
        frame.clear();
        framer.appendNext(frame);
        code = sendBlocking(http_, context_, frame);
    }
    return finishWriting(code);
}

int WebSocketLayer::send(std::span<const std::uint8_t> data) {
    bytesSent_ = 0;
    if (const int code = sendThroughPendingOutput({})) return code;
    if (data.empty()) return 0;
    std::uint8_t opcode = static_cast<std::uint8_t>(dataFormat_);
    if (opcode == 0) opcode = websocket::isValidUtf8(data) ? websocket::kOpText : websocket::kOpBinary;
    if (context_.waiter().timeout() > 0) {
        websocket::MessageFramer framer(opcode, data, maxFrameSize_);
        if (framer.frameCount() == 1) {
            if (const int code = writeMessage(framer)) return code;
        } else {
            // Frames written after a wait step would be framed from a buffer
            // that a handler, run in that step, may already be refilling: the
            // message is what the buffer holds now. So every frame is masked
            // before the first wait, and the masked frames are the message's
            // only copy.
            if (!framer.drawKeys(websocket::systemRandom())) return context_.fail(errc::randomUnavailable, "");
            LentBuffer lent(spareFrames_);
            websocket::FrameBuffer& frames = *lent;
            frames.reserve(framer.totalSize());
            while (!framer.done()) framer.appendNext(frames);
            if (const int code = writeMessage(frames)) return code;
        }
        bytesSent_ = static_cast<std::int32_t>(data.size());
        return 0;
    }
    // Non-blocking: each piece of MaxFrameSize travels as a message of its
    // own; what the socket does not take waits in PendingOutput.
    LentBuffer lent(spareFrames_);
    websocket::FrameBuffer& frames = *lent;
    std::size_t offset = 0;
    while (offset < data.size() && pendingOutput_.empty()) {
        const std::size_t piece = maxFrameSize_ < 1
                                      ? data.size() - offset
                                      : std::min(data.size() - offset, static_cast<std::size_t>(maxFrameSize_));
        frames.clear();
        if (websocket::appendMessage(frames, opcode, data.subspan(offset, piece), 0, websocket::systemRandom()) != 0) {
            return context_.fail(errc::randomUnavailable, "");
        }
        bytesSent_ += static_cast<std::int32_t>(piece);
        offset += piece;
        if (const int code = sendThroughPendingOutput(frames)) return code;
    }
    return 0;
}

int WebSocketLayer::sendText(std::string_view utf8Text) {
    if (utf8Text.empty()) return 0;
    bytesSent_ = 0;
    websocket::MessageFramer framer(websocket::kOpText, asBytes(utf8Text), maxFrameSize_);
    if (const int code = writeMessage(framer)) return code;
    bytesSent_ = static_cast<std::int32_t>(utf8Text.size());
    return 0;
}

int WebSocketLayer::sendFile(std::string_view fileName) {
    if (fileName.empty()) return context_.fail(errc::fileToSend, errtext::noFileName);
    if (context_.waiter().timeout() == 0) return context_.fail(errc::needsBlocking, errtext::needsBlocking);
    const std::string path = fileSystemName(fileName, context_.effectiveCodePage());
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        std::string text(errtext::couldNotOpenFile);
        text.append("\"").append(fileName).append("\".");
        return context_.fail(errc::fileToSend, text);
    }
    bytesSent_ = 0;
    const std::size_t chunkSize = maxFrameSize_ < 1 ? 65536 : static_cast<std::size_t>(maxFrameSize_);
    std::vector<std::uint8_t> chunk(chunkSize);
    std::vector<std::uint8_t> next(chunkSize);
    std::size_t have = std::fread(chunk.data(), 1, chunk.size(), file.get());
    if (have == 0) return 0;  // an empty file sends nothing
    std::uint8_t opcode = static_cast<std::uint8_t>(dataFormat_);
    if (opcode == 0) opcode = websocket::kOpBinary;
    // The file is one message: nothing else may go out between its frames.
    if (sending_) return context_.failSocket(errc::wouldBlock);
    const Waiter::BlockingOperation operation(context_.waiter());
    sending_ = true;
    int code = sendThroughPendingOutput({});
    bool first = true;
    websocket::FrameBuffer frame;
    while (code == 0 && have > 0) {
        // Reading one chunk ahead tells whether this one is the last.
        const std::size_t following = std::fread(next.data(), 1, next.size(), file.get());
        websocket::MaskKey key{};
        if (!websocket::systemRandom().fill(key)) {
            finishWriting(0);
            return context_.fail(errc::randomUnavailable, "");
        }
        frame.clear();
        websocket::appendFrame(frame,
                               {.fin = following == 0,
                                .opcode = first ? opcode : static_cast<std::uint8_t>(websocket::kOpContinuation),
                                .masked = true,
                                .key = key},
                               std::span<const std::uint8_t>(chunk.data(), have));
        code = sendBlocking(http_, context_, frame);
        if (code == 0) bytesSent_ += static_cast<std::int32_t>(have);
        first = false;
        chunk.swap(next);
        have = following;
    }
    return finishWriting(code);
}

int WebSocketLayer::doEvents() {
    context_.waiter().doEvents();
    return 0;
}

int WebSocketLayer::interrupt() {
    context_.waiter().interrupt();
    return 0;
}

}  // namespace morvane
