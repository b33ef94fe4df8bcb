// The operations behind the control's methods, as far as an engine without a
// transport can carry them: every argument check, state rule and setting a
// method touches is here, and anything that would put bytes on a socket fails
// the way a socket that is not connected makes it fail. The transport work
// (socket, wait steps, framing on the wire) replaces the marked steps.
#include <algorithm>
#include <cstdio>
#include <memory>

#include "control/engine/engine_errors.h"
#include "control/transport/socket_errors.h"
#include "control/websocket/close.h"
#include "control/websocket/url.h"
#include "control/websocket/websocket_layer.h"
#include "platform/text/code_page.h"

namespace morvane {
namespace {

constexpr int socketNotConnected = 10057;
// This engine has no transport yet: a host that would need one is
// unreachable the way a machine without a network subsystem finds it.
constexpr int networkUnavailable = 10091;
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
    setRemoteHost(current.host);
    url_ = current.text;
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
    // Transport: connecting the socket is where this engine stops.
    return fail(networkUnavailable, socketErrorDescription(networkUnavailable));
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
    // Transport: the close frame cannot be written without a connected socket.
    return fail(errc::closeSendFailed, socketErrorDescription(socketNotConnected));
}

int WebSocketLayer::send(std::span<const std::uint8_t> data) {
    bytesSent_ = 0;
    if (!pendingOutput_.empty()) return fail(socketNotConnected, socketErrorDescription(socketNotConnected));
    if (data.empty()) return 0;
    if (timeout() > 0) {
        // Transport: the blocking writer meets a socket that is not connected.
        return fail(errc::sendFailed, socketErrorDescription(socketNotConnected));
    }
    // Non-blocking: the first frame is counted, then refused by the socket.
    const std::size_t frame = maxFrameSize_ < 1 ? data.size()
                                                : std::min(data.size(), static_cast<std::size_t>(maxFrameSize_));
    bytesSent_ = static_cast<std::int32_t>(frame);
    return fail(socketNotConnected, socketErrorDescription(socketNotConnected));
}

int WebSocketLayer::sendText(std::string_view utf8Text) {
    if (utf8Text.empty()) return 0;
    bytesSent_ = 0;
    return fail(errc::sendFailed, socketErrorDescription(socketNotConnected));
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
    if (std::fgetc(file.get()) == EOF) return 0;  // an empty file sends nothing
    return fail(errc::sendFailed, socketErrorDescription(socketNotConnected));
}

int WebSocketLayer::doEvents() { return 0; }

int WebSocketLayer::interrupt() { return 0; }

}  // namespace morvane
