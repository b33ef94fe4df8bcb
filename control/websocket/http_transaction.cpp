// HttpLayer's GET transaction over the stream below: the current URL and
// what a new one changes, the request, the response as it arrives (Header
// and SetCookie as each line completes), the status verdict and redirects;
// and what the stream below reports while it runs.

#include <algorithm>

#include "control/engine/ascii.h"
#include "control/engine/engine_errors.h"
#include "control/engine/engine_events.h"
#include "control/engine/socket_errors.h"
#include "control/websocket/cookies.h"
#include "control/websocket/http_layer.h"
#include "control/websocket/inflate_body.h"

namespace morvane {
namespace {

constexpr std::string_view methodGet = "GET";
// A followed redirect gives the caller's loop this many turns before the
// next request, so that a close the server sent with the redirect arrives.
constexpr int redirectWaitSteps = 10;

// "close" among the comma-separated tokens of a Connection value.
bool hasCloseToken(std::string_view value) {
    while (!value.empty()) {
        const auto comma = value.find(',');
        std::string_view token = value.substr(0, comma);
        while (!token.empty() && (token.front() == ' ' || token.front() == '\t')) token.remove_prefix(1);
        while (!token.empty() && (token.back() == ' ' || token.back() == '\t')) token.remove_suffix(1);
        if (equalsNoCase(token, "close")) return true;
        if (comma == std::string_view::npos) break;
        value.remove_prefix(comma + 1);
    }
    return false;
}

// Marks the HTTP action in progress, and clears the mark on every way out.
class ActionMark {
public:
    explicit ActionMark(HttpLayer::Action& action) : action_(action) { action_ = HttpLayer::Action::Get; }
    ~ActionMark() { action_ = HttpLayer::Action::None; }
    ActionMark(const ActionMark&) = delete;
    ActionMark& operator=(const ActionMark&) = delete;

private:
    HttpLayer::Action& action_;
};

}  // namespace

websocket::Url HttpLayer::currentUrl() const {
    websocket::Url url;
    url.text = url_;
    url.scheme = scheme_;
    url.host = host_;
    url.ipv6 = requestHostIsIPv6_;
    url.port = static_cast<std::uint16_t>(port_);
    url.defaultPort = static_cast<std::uint16_t>(defaultPort_);
    url.path = requestPath_;
    url.user = user_;
    url.password = password_;
    return url;
}

websocket::RequestFields HttpLayer::requestFields() const {
    websocket::RequestFields fields;
    fields.httpVersion = httpVersion_;
    fields.absoluteUri = absoluteUri_;
    fields.keepAlive = keepAlive_;
    fields.authorization = serverAuth_ ? requestAuthorization_ : authorization_;
    fields.viaHttpProxy = viaHttpProxy();
    fields.proxyAuthorization = proxyAuth_ && fields.viaHttpProxy ? requestProxyAuthorization_ : proxyAuthorization_;
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
    fields.otherHeaders = otherHeaders_;
    fields.origin = origin_;
    return fields;
}

bool HttpLayer::viaHttpProxy() const { return proxy_.passage && proxy_.passage->road == ProxyRoad::httpProxy; }

bool HttpLayer::prepareChallengeAnswer(bool proxy) {
    if (proxy) {
        // A tunnel's proxy answered its CONNECT long before; a 407 here comes
        // from a proxy that takes the request itself.
        if (proxyAuth_ == nullptr || !viaHttpProxy()) return false;
        for (const std::string& challenge : proxyChallenges_)
            proxyAuth_->takeChallenge(proxy_.proxyAuthScheme, challenge);
        return true;
    }
    if (serverAuth_ == nullptr) return false;
    for (const std::string& challenge : serverChallenges_) serverAuth_->takeChallenge(authScheme_, challenge);
    // Even without a challenge of its scheme the request goes once more: an
    // NTLM exchange then starts over, and a second refusal ends it.
    return true;
}

int HttpLayer::buildAuthorization() {
    requestAuthorization_.clear();
    requestProxyAuthorization_.clear();
    const std::string uri = websocket::requestTarget(currentUrl(), requestFields());
    if (proxyAuth_ && viaHttpProxy()) {
        const AuthAnswer answer = proxyAuth_->build({.scheme = proxy_.proxyAuthScheme,
                                                     .user = proxy_.proxyUser,
                                                     .password = proxy_.proxyPassword,
                                                     .preset = proxyAuthorization_,
                                                     .host = proxy_.passage->host,
                                                     .method = methodGet,
                                                     .uri = uri});
        if (answer.code != 0) return context_.fail(answer.code, answer.text);
        requestProxyAuthorization_ = answer.value.value_or(std::string());
    }
    if (serverAuth_ == nullptr) return 0;
    const bool secure = equalsNoCase(scheme_, secureScheme_);
    std::vector<std::uint8_t> bindings;
    if (secure && channelBindings_) bindings = channelBindings_();
    const AuthAnswer answer = serverAuth_->build({.scheme = authScheme_,
                                                  .user = user_,
                                                  .password = password_,
                                                  .preset = authorization_,
                                                  .host = host_,
                                                  .method = methodGet,
                                                  .uri = uri,
                                                  .secure = secure,
                                                  .channelBindings = bindings});
    if (answer.code != 0) return context_.fail(answer.code, answer.text);
    requestAuthorization_ = answer.value.value_or(std::string());
    return 0;
}

int HttpLayer::applyUrl(std::string_view text, bool relative) {
    websocket::Url url = currentUrl();
    const websocket::UrlOptions options{.relative = relative,
                                        .encodePath = relative ? encodeRedirectLocation_ : encodeUrl_,
                                        .encodeQuery = encodeQueryString_,
                                        .allowIdentical = allowIdenticalRedirectUrl_,
                                        .maxRedirectAttempts = maxRedirectAttempts_};
    const websocket::UrlChange change = websocket::parseUrl(text, url, options, redirectAllowance_);
    if (change.code != 0) return context_.fail(change.code, change.error);

    if (change.endpointChanged && below_.isOpen()) below_.close(0);
    if (!below_.isOpen()) {
        host_ = url.host;
        port_ = url.port;
    }
    url_ = url.text;
    scheme_ = url.scheme;
    defaultPort_ = url.defaultPort;
    requestPath_ = url.path;
    requestHostIsIPv6_ = url.ipv6;
    if (change.hostOrPortChanged && !dontClearCookiesOnUrlChange_) {
        std::erase_if(cookies_, [](const CookieRecord& cookie) { return !cookie.addedByCaller; });
    }
    if (change.credentialsGiven || (relative && followRedirects_ != websocket::frAlways)) {
        user_ = url.user;
        password_ = url.password;
    }
    // A Digest challenge holds for the server that sent it: its nonce goes
    // with the next requests there, never to another server.
    if (serverAuth_ && change.endpointChanged) serverAuth_->reset();
    serverChallenges_.clear();
    proxyChallenges_.clear();
    authRetries_ = {};
    return 0;
}

int HttpLayer::runGetTransaction(const RequestComposer& compose) {
    if (action_ != Action::None) return context_.fail(errc::busy, errtext::busy);
    const ActionMark mark(action_);
    const Waiter::BlockingOperation operation(context_.waiter());
    transportError_ = 0;
    if (serverAuth_) serverAuth_->forgetExchange();
    if (proxyAuth_) proxyAuth_->forgetExchange();
    for (;;) {
        if (const int code = runGetAttempt(compose)) return code;
        const websocket::StatusContext statusContext{
            .followRedirects = static_cast<websocket::FollowRedirects>(followRedirects_),
            .hasLocation = !redirectLocation_.empty(),
            .answersChallenges = answersChallenges(authScheme_),
            .answersProxyChallenges = answersChallenges(proxy_.proxyAuthScheme)};
        const websocket::StatusVerdict verdict =
            websocket::judgeStatus(statusCode_, reasonPhrase_, statusContext, authRetries_);
        switch (verdict.action) {
            case websocket::StatusAction::kSuccess: return 0;
            case websocket::StatusAction::kRedirect:
                if (const int code = followRedirect()) return code;
                break;
            case websocket::StatusAction::kRetryWithAuth:
            case websocket::StatusAction::kRetryWithProxyAuth: {
                const bool proxy = verdict.action == websocket::StatusAction::kRetryWithProxyAuth;
                if (!prepareChallengeAnswer(proxy)) {
                    authRetries_ = {};
                    return context_.fail(proxy ? errc::proxyProtocol : errc::httpProtocol, verdict.text);
                }
                // The answer goes on a new connection when the server ends
                // this one, even before its end has arrived here.
                if (serverCloses_ && below_.isOpen()) below_.close(0);
                break;
            }
            case websocket::StatusAction::kFail: return context_.fail(verdict.code, verdict.text);
        }
    }
}

int HttpLayer::runGetAttempt(const RequestComposer& compose) {
    clearResponse();
    response_.reset();
    headersTaken_ = 0;
    // Only the last response's challenges are answered.
    serverChallenges_.clear();
    proxyChallenges_.clear();
    serverCloses_ = false;
    logTransaction();

    if (host_.empty()) return context_.fail(errc::noServer, errtext::noServer);
    if (!below_.isConnected()) {
        // A secure URL never goes out in plaintext, not even its request line.
        const bool secure = equalsNoCase(scheme_, secureScheme_);
        const bool channelReady = channelSwitch_ ? channelSwitch_(secure) : !secure;
        if (!channelReady) return context_.fail(errc::securityLibrary, errtext::securityLibrary);
        connectOutcome_.reset();
        // To an HTTP proxy the connection is the proxy's own (a secure
        // channel then checks the proxy's name), whatever the URL names.
        const bool toProxy = viaHttpProxy();
        const std::string_view host = toProxy ? std::string_view(proxy_.passage->host) : std::string_view(host_);
        const int port = toProxy ? proxy_.passage->port : port_;
        if (const int code = connectAndWait(below_, context_, host, port, connectOutcome_)) return code;
    }

    if (const int code = buildAuthorization()) return code;
    std::string request;
    if (compose) {
        if (const int code = compose(request)) return code;
    } else {
        request = websocket::buildGetRequest(currentUrl(), requestFields(), {});
    }
    sentHeaders_ = request;
    if (recordTransferredRequest_) transferredRequest_ = request;
    context_.logDebugText("RequestHeaders: " + request);
    const std::span<const std::uint8_t> requestBytes(reinterpret_cast<const std::uint8_t*>(request.data()),
                                                     request.size());
    if (const int code = sendBlocking(below_, context_, requestBytes)) return code;
    httpCookies_.clear();

    below_.setAcceptData(true);
    while (readingResponse()) {
        if (!below_.isOpen()) {
            response_.endOfInput();
            break;
        }
        if (!context_.waiter().waitStep()) return abandonTransaction();
    }
    takeNewHeaders();
    if (response_.failed()) return context_.fail(response_.errorCode(), response_.errorText());
    if (!response_.complete()) return context_.failSocket(errc::socketNotConnected);
    responseComplete_ = true;
    keepResponseBody();
    const std::string_view connection = response_.header("Connection");
    serverCloses_ =
        hasCloseToken(connection) || (statusLine_.starts_with("HTTP/1.0") && !equalsNoCase(connection, "keep-alive"));
    return 0;
}

int HttpLayer::followRedirect() {
    const std::string location = redirectLocation_;
    const std::string statusText = websocket::statusErrorText(statusCode_, reasonPhrase_);
    bool accept =
        websocket::redirectVerdict(static_cast<websocket::FollowRedirects>(followRedirects_), scheme_, location);
    // The connection the redirect came on is of no more use when the
    // server ends it.
    if (serverCloses_ && below_.isOpen()) below_.close(0);
    if (const int code = applyUrl(location, true)) return code;
    if (EngineEvents* events = context_.events()) events->redirect(location, accept);
    if (!accept) return context_.fail(errc::httpProtocol, statusText);
    for (int step = 0; step < redirectWaitSteps; ++step) {
        if (!context_.waiter().waitStep()) return abandonTransaction();
    }
    return 0;
}

std::size_t HttpLayer::feedResponse(std::string_view bytes) {
    const std::size_t used = response_.feed(bytes);
    bytesTransferred_ += static_cast<std::int64_t>(used);
    takeNewHeaders();
    return used;
}

void HttpLayer::takeNewHeaders() {
    if (statusCode_ != response_.statusCode() || statusLine_ != response_.statusLine()) {
        statusLine_ = response_.statusLine();
        statusCode_ = response_.statusCode();
        reasonPhrase_ = response_.reasonPhrase();
        const auto slash = statusLine_.find('/');
        const auto space = statusLine_.find(' ');
        negotiatedHttpVersion_ = slash != std::string::npos && space != std::string::npos && slash < space
                                     ? statusLine_.substr(slash + 1, space - slash - 1)
                                     : std::string();
    }
    // An interim response (100 Continue) starts the header list again.
    if (response_.headers().size() < headersTaken_) {
        headersTaken_ = 0;
        parsedHeaders_.clear();
        redirectLocation_.clear();
    }
    transferredHeaders_ = response_.transferredHeaders();
    // Indexes, not references: a handler may call back into the control and
    // feed more of the response while this loop runs.
    while (headersTaken_ < response_.headers().size()) {
        const websocket::HttpHeader header = response_.headers()[headersTaken_++];
        parsedHeaders_.push_back({header.name, header.value});
        EngineEvents* events = context_.events();
        if (events) events->header(header.name, header.value);
        if (equalsNoCase(header.name, "Location")) {
            if (followRedirects_ != websocket::frNever) redirectLocation_ = header.value;
        } else if (equalsNoCase(header.name, "WWW-Authenticate")) {
            serverChallenges_.push_back(header.value);
        } else if (equalsNoCase(header.name, "Proxy-Authenticate")) {
            proxyChallenges_.push_back(header.value);
        } else if (equalsNoCase(header.name, "Set-Cookie")) {
            const websocket::Cookie cookie = websocket::parseSetCookie(header.value);
            if (events) {
                events->setCookie(cookie.name, cookie.value, cookie.expiration, cookie.domain, cookie.path,
                                  cookie.secure);
            }
            cookies_.push_back(CookieRecord{.name = cookie.name,
                                            .value = cookie.value,
                                            .expiration = cookie.expiration,
                                            .domain = cookie.domain,
                                            .path = cookie.path,
                                            .secure = cookie.secure,
                                            .addedByCaller = false});
        }
    }
}

void HttpLayer::keepResponseBody() {
    const std::string_view encoding = response_.header("Content-Encoding");
    if (!allowHttpCompression_ || encoding.empty() || response_.body().empty()) {
        transferredData_ = response_.body();
        return;
    }
    websocket::InflateResult inflated = websocket::inflateBody(response_.body(), encoding);
    if (inflated.code != 0) {
        // The body is only informative on this road; an undecodable one is
        // kept as it came and the reason goes to the log.
        context_.logDebugText(inflated.text);
        transferredData_ = response_.body();
        return;
    }
    transferredData_ = std::move(inflated.body);
}

void HttpLayer::logTransaction() {
    if (context_.logDebugFile().empty()) return;
    context_.logDebugText("URL: " + url_);
    context_.logDebugText("HTTP Method: " + std::string(methodGet));
    context_.logDebugText("HTTP Version: " + httpVersion_);
    std::string line = "Sending Request: " + std::string(methodGet) + " (HTTP " + httpVersion_ + ") to " + url_;
    if (!proxy_.proxyServer.empty()) {
        line += " via proxy server '" + proxy_.proxyServer + ":" + std::to_string(proxy_.proxyPort) +
                "' with credentials '" + proxy_.proxyUser + "\\" + std::to_string(proxy_.proxyPassword.size()) + "' (" +
                std::string(authSchemeName(proxy_.proxyAuthScheme)) + ")";
    }
    context_.logDebugText(line);
}

int HttpLayer::abandonTransaction() {
    const std::string reason = context_.lastErrorText();
    below_.close(0);
    return context_.fail(errc::interrupted, reason);
}

void HttpLayer::streamConnected(int code) {
    connectOutcome_.complete(code);
    if (listener_) listener_->streamConnected(code);
}

int HttpLayer::streamReceived(std::span<const std::uint8_t> bytes, bool endOfLine) {
    if (readingResponse()) {
        const std::size_t used = feedResponse({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
        bytes = bytes.subspan(used);
        // What follows a 101 belongs to the layer above. It waits, there and
        // below, until the upgrade has been checked. What follows any other
        // answer is no frame at all.
        if (readingResponse() || statusCode_ != 101) return 0;
        below_.setAcceptData(false);
        if (bytes.empty()) return 0;
    }
    return listener_ ? listener_->streamReceived(bytes, endOfLine) : 0;
}

std::span<std::uint8_t> HttpLayer::receiveRoom() { return roomAbove(listener_, !readingResponse()); }
int HttpLayer::receivedInPlace(std::size_t count) { return receivedInPlaceAbove(listener_, count); }
std::size_t HttpLayer::bytesAwaited() { return awaitedAbove(listener_, !readingResponse()); }

void HttpLayer::streamReadyToSend() {
    if (listener_) listener_->streamReadyToSend();
}

void HttpLayer::streamClosed(int code, const std::string& description) {
    if (listener_) listener_->streamClosed(code, description);
    // The transaction running over this connection learns why it ended.
    transportError_ = code;
}

}  // namespace morvane
