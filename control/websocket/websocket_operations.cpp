// The operations behind the control's methods: every argument check, state
// rule and setting a method touches, the opening handshake over the socket
// engine, and the writers of messages and the close frame.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "control/engine/engine_errors.h"
#include "control/transport/socket_errors.h"
#include "control/com/engine_events.h"
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

constexpr int socketNotConnected = 10057;
constexpr int zeroPort = errc::zeroPort;
constexpr std::string_view zeroPortText = "RemotePort can't be zero. Please specify a valid service port number.";
constexpr int normalClosure = 1000;

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

// Clears the HTTP action mark on every way out of the transaction.
class ActionMark {
public:
    ActionMark(HttpLayer::Action& action) : action_(action) { action_ = HttpLayer::Action::Get; }
    ~ActionMark() { action_ = HttpLayer::Action::None; }
    ActionMark(const ActionMark&) = delete;
    ActionMark& operator=(const ActionMark&) = delete;

private:
    HttpLayer::Action& action_;
};

}  // namespace

int WebSocketLayer::connect(std::string_view url) {
    websocket::Url current;
    current.text = url_;
    current.scheme = std::string(websocket::schemeOf(url_));
    current.host = remoteHost_;
    current.port = static_cast<std::uint16_t>(remotePort_);
    current.defaultPort = static_cast<std::uint16_t>(defaultPort_);
    websocket::RedirectAllowance allowance;
    const websocket::UrlOptions options{.relative = false,
                                        .encodePath = encodeUrl_,
                                        .encodeQuery = encodeQueryString_,
                                        .allowIdentical = allowIdenticalRedirectUrl_,
                                        .maxRedirectAttempts = maxRedirectAttempts_};
    const websocket::UrlChange change = websocket::parseUrl(url, current, options, allowance);
    if (change.code != 0) return fail(change.code, change.error);

    // A name that does not resolve leaves no address; the transport reports
    // that when it connects, as it reports every other unreachable host.
    if (change.endpointChanged && socketOpen()) SocketEngine::disconnect(0);
    setRemoteHost(current.host);
    url_ = current.text;
    requestPath_ = current.path;
    requestHostIsIPv6_ = current.ipv6;
    remotePort_ = current.port;
    defaultPort_ = current.defaultPort;
    if (change.hostOrPortChanged && !dontClearCookiesOnUrlChange_) {
        std::erase_if(cookies_, [](const CookieRecord& cookie) { return !cookie.addedByCaller; });
    }
    if (change.credentialsGiven) {
        user_ = current.user;
        password_ = current.password;
    }
    return setConnected(true);
}

int WebSocketLayer::setConnected(bool connect) {
    if (!connect) return disconnect();
    if (state_ == State::Open) return fail(errc::alreadyConnected, errtext::alreadyConnected);

    state_ = State::Connecting;
    followRedirects_ = websocket::frAlways;
    keepAlive_ = true;

    // The GET transaction of the handshake.
    if (action_ != Action::None) return fail(errc::busy, errtext::busy);
    clearResponse();
    if (remoteHost_.empty()) return fail(errc::noServer, errtext::noServer);
    if (remotePort_ == 0) return fail(zeroPort, zeroPortText);
    return runUpgrade();
}

int WebSocketLayer::runUpgrade() {
    const ActionMark mark(action_);
    BlockingOperation operation(*this);
    close_.beginConnecting();
    frames_.reset();
    frames_.setBufferMessage(bufferMessage_);
    receiveBuffer_.clear();
    parsedOffset_ = 0;
    // The response reader takes the bytes as they come, so the transport
    // delivers them unsplit.
    setEndOfLine("");
    if (!socketConnected()) {
        if (const int code = connectAndWait()) return code;
    }

    const std::optional<std::string> key = websocket::makeWebSocketKey(websocket::systemRandom());
    if (!key) return fail(errc::randomUnavailable, "");
    handshakeKey_ = *key;
    websocket::Url url;
    url.text = url_;
    url.scheme = std::string(websocket::schemeOf(url_));
    url.host = remoteHost_;
    url.ipv6 = requestHostIsIPv6_;
    url.port = static_cast<std::uint16_t>(remotePort_);
    url.defaultPort = static_cast<std::uint16_t>(defaultPort_);
    url.path = requestPath_;
    websocket::RequestFields fields;
    fields.httpVersion = httpVersion_;
    fields.absoluteUri = absoluteUri_;
    fields.keepAlive = keepAlive_;
    fields.authorization = authorization_;
    fields.proxyAuthorization = proxyAuthorization_;
    fields.accept = accept_;
    fields.allowHttpCompression = allowHttpCompression_;
    fields.acceptEncoding = acceptEncoding_;
    fields.from = from_;
    fields.userAgent = userAgent_;
    fields.ifModifiedSince = ifModifiedSince_;
    fields.referer = referer_;
    fields.pragma = pragma_;
    fields.range = range_;
    fields.httpCookies = httpCookies_;
    for (const CookieRecord& cookie : cookies_) {
        if (!fields.cookieList.empty()) fields.cookieList += "; ";
        fields.cookieList += cookie.name + "=" + cookie.value;
    }
    fields.otherHeaders = websocket::normalizeOtherHeaders(otherHeaders_);
    fields.origin = origin_;
    fields.subProtocols = subProtocols_;
    const std::string request = websocket::buildUpgradeRequest(url, fields, handshakeKey_);
    sentHeaders_ = request;
    if (recordTransferredRequest_) transferredRequest_ = request;

    response_.reset();
    if (const int code = sendBlocking(asBytes(request))) return code;
    httpCookies_.clear();
    setAcceptData(true);
    std::size_t headersRaised = 0;
    while (!response_.complete() && !response_.failed()) {
        if (!socketOpen()) {
            response_.endOfInput();
            break;
        }
        if (!waitStep()) {
            const std::string reason = lastErrorText();
            SocketEngine::disconnect(0);
            return fail(errc::interrupted, reason);
        }
        for (; events_ && headersRaised < response_.headers().size(); ++headersRaised) {
            events_->header(response_.headers()[headersRaised].name, response_.headers()[headersRaised].value);
        }
    }
    statusLine_ = response_.statusLine();
    statusCode_ = response_.statusCode();
    reasonPhrase_ = response_.reasonPhrase();
    transferredHeaders_ = response_.transferredHeaders();
    parsedHeaders_.clear();
    for (const auto& header : response_.headers()) parsedHeaders_.push_back({header.name, header.value});
    if (!response_.complete()) {
        if (response_.failed()) return fail(response_.errorCode(), response_.errorText());
        return failSocket(socketNotConnected);
    }

    if (statusCode_ != 101) {
        websocket::AuthRetries retries;
        const websocket::StatusVerdict verdict = websocket::judgeStatus(
            statusCode_, reasonPhrase_, {.followRedirects = static_cast<websocket::FollowRedirects>(followRedirects_)},
            retries);
        if (verdict.action == websocket::StatusAction::kSuccess) {
            state_ = State::Closed;
            close_.closedWithoutUpgrade();
            if (events_) events_->connectionStatus(std::string(connectionBrokenText),
                                                   static_cast<std::int16_t>(statusCode_), reasonPhrase_);
            return 0;
        }
        // Redirects and authentication retries are not followed yet.
        return fail(errc::httpProtocol, websocket::statusErrorText(statusCode_, reasonPhrase_));
    }

    if (!websocket::checkUpgradeResponse(response_.headers(), handshakeKey_, subProtocols_)) {
        raiseError(websocket::kErrorInvalidHandshake, websocket::kInvalidHandshakeText);
        if (events_) events_->connectionStatus(std::string(connectionBrokenText), protocolError,
                                               std::string(protocolErrorText));
        close_.opened();
        applyCloseAction(close_.failUpgrade());
        state_ = State::Closing;
        return 0;
    }
    close_.opened();
    state_ = State::Open;
    if (events_) {
        events_->connectionStatus(std::string(connectionCompleteText), 0, std::string(okText));
        events_->connected(0, std::string(okText));
        events_->readyToSend();
    }
    setAcceptData(true);
    // Frames that came with the response.
    parseFrames();
    return 0;
}

int WebSocketLayer::disconnect() {
    if (state_ != State::Open) return 0;
    if (!pendingOutput_.empty() && (linger() || timeout() != 0)) {
        return fail(errc::wouldBlock, errtext::disconnectWouldBlock);
    }
    state_ = State::Closing;
    closeCode_ = disconnectStatusCode_ < 0 ? normalClosure : disconnectStatusCode_;
    closeReason_ = disconnectStatusDescription_.empty() ? std::string(websocket::closeCodeName(closeCode_))
                                                        : disconnectStatusDescription_;
    disconnectStatusCode_ = -1;
    disconnectStatusDescription_.clear();
    if (!socketConnected()) return fail(errc::closeSendFailed, socketErrorDescription(socketNotConnected));

    BlockingOperation operation(*this);
    close_.startClose(closeCode_, closeReason_);
    const auto payload = websocket::buildClosePayload(static_cast<std::uint16_t>(closeCode_), closeReason_);
    if (sendControl(websocket::kOpClose, payload) != 0) {
        const std::string reason = lastErrorText();
        SocketEngine::disconnect(0);
        return fail(errc::closeSendFailed, reason);
    }
    // The server's reply completes the close; without Timeout there is no
    // waiting for it.
    if (timeout() == 0) return 0;
    while (socketOpen() && state_ == State::Closing) {
        if (!waitStep()) {
            const std::string reason = lastErrorText();
            SocketEngine::disconnect(0);
            return fail(errc::interrupted, reason);
        }
    }
    return 0;
}

int WebSocketLayer::send(std::span<const std::uint8_t> data) {
    bytesSent_ = 0;
    if (!pendingOutput_.empty()) return fail(socketNotConnected, socketErrorDescription(socketNotConnected));
    if (data.empty()) return 0;
    std::uint8_t opcode = static_cast<std::uint8_t>(dataFormat_);
    if (opcode == 0) opcode = websocket::isValidUtf8(data) ? websocket::kOpText : websocket::kOpBinary;
    std::vector<std::uint8_t> frames;
    if (timeout() > 0) {
        if (websocket::appendMessage(frames, opcode, data, maxFrameSize_, websocket::systemRandom()) != 0) {
            return fail(errc::randomUnavailable, "");
        }
        if (const int code = writeBlocking(frames)) return code;
        bytesSent_ = static_cast<std::int32_t>(data.size());
        return 0;
    }
    // Non-blocking: each piece of MaxFrameSize travels as a message of its
    // own; what the socket does not take waits in PendingOutput.
    std::size_t offset = 0;
    while (offset < data.size() && pendingOutput_.empty()) {
        const std::size_t piece = maxFrameSize_ < 1 ? data.size() - offset
                                  : std::min(data.size() - offset, static_cast<std::size_t>(maxFrameSize_));
        frames.clear();
        if (websocket::appendMessage(frames, opcode, data.subspan(offset, piece), 0, websocket::systemRandom()) != 0) {
            return fail(errc::randomUnavailable, "");
        }
        bytesSent_ += static_cast<std::int32_t>(piece);
        offset += piece;
        if (!socketConnected()) return failSocket(socketNotConnected);
        std::size_t accepted = 0;
        const int code = SocketEngine::send(frames, &accepted);
        if (code == errc::wouldBlock) {
            pendingOutput_.assign(reinterpret_cast<const char*>(frames.data()) + accepted, frames.size() - accepted);
        }
        if (code != 0) return code;
    }
    return 0;
}

int WebSocketLayer::sendText(std::string_view utf8Text) {
    if (utf8Text.empty()) return 0;
    bytesSent_ = 0;
    std::vector<std::uint8_t> frames;
    if (websocket::appendMessage(frames, websocket::kOpText, asBytes(utf8Text), maxFrameSize_,
                                 websocket::systemRandom()) != 0) {
        return fail(errc::randomUnavailable, "");
    }
    if (const int code = writeBlocking(frames)) return code;
    bytesSent_ = static_cast<std::int32_t>(utf8Text.size());
    return 0;
}

int WebSocketLayer::sendFile(std::string_view fileName) {
    if (fileName.empty()) return fail(errc::fileToSend, errtext::noFileName);
    if (timeout() == 0) return fail(errc::needsBlocking, errtext::needsBlocking);
    const std::string path = fileSystemName(fileName, effectiveCodePage());
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        std::string text(errtext::couldNotOpenFile);
        text.append("\"").append(fileName).append("\".");
        return fail(errc::fileToSend, text);
    }
    bytesSent_ = 0;
    const std::size_t chunkSize = maxFrameSize_ < 1 ? 65536 : static_cast<std::size_t>(maxFrameSize_);
    std::vector<std::uint8_t> chunk(chunkSize);
    std::vector<std::uint8_t> next(chunkSize);
    std::size_t have = std::fread(chunk.data(), 1, chunk.size(), file.get());
    if (have == 0) return 0;  // an empty file sends nothing
    std::uint8_t opcode = static_cast<std::uint8_t>(dataFormat_);
    if (opcode == 0) opcode = websocket::kOpBinary;
    bool first = true;
    std::vector<std::uint8_t> frame;
    while (have > 0) {
        // Reading one chunk ahead tells whether this one is the last.
        const std::size_t following = std::fread(next.data(), 1, next.size(), file.get());
        websocket::MaskKey key{};
        if (!websocket::systemRandom().fill(key)) return fail(errc::randomUnavailable, "");
        frame.clear();
        websocket::appendFrame(frame,
                               {.fin = following == 0,
                                .opcode = first ? opcode : static_cast<std::uint8_t>(websocket::kOpContinuation),
                                .masked = true,
                                .key = key},
                               std::span<const std::uint8_t>(chunk.data(), have));
        if (const int code = writeBlocking(frame)) return code;
        bytesSent_ += static_cast<std::int32_t>(have);
        first = false;
        chunk.swap(next);
        have = following;
    }
    return 0;
}

int WebSocketLayer::doEvents() {
    SocketEngine::doEvents();
    return 0;
}

int WebSocketLayer::interrupt() {
    SocketEngine::interrupt();
    return 0;
}

}  // namespace morvane
