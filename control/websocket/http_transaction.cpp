// HttpLayer's GET transaction over the socket engine: the current URL and
// what a new one changes, the request, the response as it arrives (Header
// and SetCookie as each line completes), the status verdict and redirects.
#include <strings.h>

#include <algorithm>

#include "control/com/engine_events.h"
#include "control/engine/engine_errors.h"
#include "control/websocket/cookies.h"
#include "control/websocket/http_layer.h"
#include "control/websocket/inflate_body.h"

namespace morvane {
namespace {

constexpr std::string_view methodGet = "GET";
// A followed redirect gives the caller's loop this many turns before the
// next request, so that a close the server sent with the redirect arrives.
constexpr int redirectWaitSteps = 10;
constexpr int socketNotConnected = 10057;
constexpr int authDigest = 1;
constexpr int authNtlm = 4;
constexpr int authNegotiate = 5;

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool answersChallenges(int scheme) { return scheme == authDigest || scheme == authNtlm || scheme == authNegotiate; }

// The scheme names the log uses.
std::string_view authSchemeName(int scheme) {
    static constexpr std::string_view names[] = {"Basic", "Digest", "Proprietary", "None", "NTLM", "Negotiate"};
    if (scheme >= 0 && scheme < static_cast<int>(std::size(names))) return names[scheme];
    return "Automatic";
}

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
    url.host = remoteHost_;
    url.ipv6 = requestHostIsIPv6_;
    url.port = static_cast<std::uint16_t>(remotePort_);
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
    fields.otherHeaders = otherHeaders_;
    fields.origin = origin_;
    return fields;
}

int HttpLayer::composeRequest(std::string& request) {
    request = websocket::buildGetRequest(currentUrl(), requestFields(), {});
    return 0;
}

bool HttpLayer::prepareChallengeAnswer(bool) { return false; }

int HttpLayer::applyUrl(std::string_view text, bool relative) {
    websocket::Url url = currentUrl();
    const websocket::UrlOptions options{.relative = relative,
                                        .encodePath = relative ? encodeRedirectLocation_ : encodeUrl_,
                                        .encodeQuery = encodeQueryString_,
                                        .allowIdentical = allowIdenticalRedirectUrl_,
                                        .maxRedirectAttempts = maxRedirectAttempts_};
    const websocket::UrlChange change = websocket::parseUrl(text, url, options, redirectAllowance_);
    if (change.code != 0) return fail(change.code, change.error);

    if (change.endpointChanged && socketOpen()) SocketEngine::disconnect(0);
    // A name that does not resolve leaves no address; connecting reports
    // that as it reports every other unreachable host.
    if (!socketOpen()) {
        setRemoteHost(url.host);
        remotePort_ = url.port;
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
    // Challenges answered for the old URL mean nothing for the new one.
    serverChallenges_.clear();
    proxyChallenges_.clear();
    authRetries_ = {};
    return 0;
}

int HttpLayer::runGetTransaction() {
    if (action_ != Action::None) return fail(errc::busy, errtext::busy);
    const ActionMark mark(action_);
    const BlockingOperation operation(*this);
    for (;;) {
        if (const int code = runGetAttempt()) return code;
        const websocket::StatusContext context{
            .followRedirects = static_cast<websocket::FollowRedirects>(followRedirects_),
            .hasLocation = !redirectLocation_.empty(),
            .answersChallenges = answersChallenges(authScheme_),
            .answersProxyChallenges = answersChallenges(proxyAuthScheme_)};
        const websocket::StatusVerdict verdict = websocket::judgeStatus(statusCode_, reasonPhrase_, context, authRetries_);
        switch (verdict.action) {
            case websocket::StatusAction::kSuccess:
                return 0;
            case websocket::StatusAction::kRedirect:
                if (const int code = followRedirect()) return code;
                break;
            case websocket::StatusAction::kRetryWithAuth:
            case websocket::StatusAction::kRetryWithProxyAuth: {
                const bool proxy = verdict.action == websocket::StatusAction::kRetryWithProxyAuth;
                if (!prepareChallengeAnswer(proxy)) {
                    authRetries_ = {};
                    return fail(proxy ? errc::proxyProtocol : errc::httpProtocol, verdict.text);
                }
                break;
            }
            case websocket::StatusAction::kFail:
                return fail(verdict.code, verdict.text);
        }
    }
}

int HttpLayer::runGetAttempt() {
    clearResponse();
    response_.reset();
    headersTaken_ = 0;
    serverCloses_ = false;
    logTransaction();

    if (remoteHost_.empty()) return fail(errc::noServer, errtext::noServer);
    // The response reader takes the bytes as they come, whole lines or not.
    setEndOfLine("");
    if (!socketConnected()) {
        if (const int code = connectAndWait()) return code;
    }

    std::string request;
    if (const int code = composeRequest(request)) return code;
    sentHeaders_ = request;
    if (recordTransferredRequest_) transferredRequest_ = request;
    logDebugText("RequestHeaders: " + request);
    if (const int code = sendBlocking({reinterpret_cast<const std::uint8_t*>(request.data()), request.size()})) {
        return code;
    }
    httpCookies_.clear();

    setAcceptData(true);
    while (readingResponse()) {
        if (!socketOpen()) {
            response_.endOfInput();
            break;
        }
        if (!waitStep()) return abandonTransaction();
    }
    takeNewHeaders();
    if (response_.failed()) return fail(response_.errorCode(), response_.errorText());
    if (!response_.complete()) return failSocket(socketNotConnected);
    responseComplete_ = true;
    keepResponseBody();
    const std::string_view connection = response_.header("Connection");
    serverCloses_ = hasCloseToken(connection) ||
                    (statusLine_.starts_with("HTTP/1.0") && !equalsNoCase(connection, "keep-alive"));
    return 0;
}

int HttpLayer::followRedirect() {
    const std::string location = redirectLocation_;
    const std::string statusText = websocket::statusErrorText(statusCode_, reasonPhrase_);
    bool accept = websocket::redirectVerdict(static_cast<websocket::FollowRedirects>(followRedirects_), scheme_,
                                             location);
    // The connection the redirect came on is of no more use when the
    // server ends it.
    if (serverCloses_ && socketOpen()) SocketEngine::disconnect(0);
    if (const int code = applyUrl(location, true)) return code;
    if (events_) events_->redirect(location, accept);
    if (!accept) return fail(errc::httpProtocol, statusText);
    for (int step = 0; step < redirectWaitSteps; ++step) {
        if (!waitStep()) return abandonTransaction();
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
        negotiatedHttpVersion_ =
            slash != std::string::npos && space != std::string::npos && slash < space
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
        if (events_) events_->header(header.name, header.value);
        if (equalsNoCase(header.name, "Location")) {
            if (followRedirects_ != websocket::frNever) redirectLocation_ = header.value;
        } else if (equalsNoCase(header.name, "WWW-Authenticate")) {
            serverChallenges_.push_back(header.value);
        } else if (equalsNoCase(header.name, "Proxy-Authenticate")) {
            proxyChallenges_.push_back(header.value);
        } else if (equalsNoCase(header.name, "Set-Cookie")) {
            const websocket::Cookie cookie = websocket::parseSetCookie(header.value);
            if (events_) {
                events_->setCookie(cookie.name, cookie.value, cookie.expiration, cookie.domain, cookie.path,
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
        logDebugText(inflated.text);
        transferredData_ = response_.body();
        return;
    }
    transferredData_ = std::move(inflated.body);
}

void HttpLayer::logTransaction() {
    if (logDebugFile_.empty()) return;
    logDebugText("URL: " + url_);
    logDebugText("HTTP Method: " + std::string(methodGet));
    logDebugText("HTTP Version: " + httpVersion_);
    std::string line = "Sending Request: " + std::string(methodGet) + " (HTTP " + httpVersion_ + ") to " + url_;
    if (!proxyServer_.empty()) {
        line += " via proxy server '" + proxyServer_ + ":" + std::to_string(proxyPort_) + "' with credentials '" +
                proxyUser_ + "\\" + std::to_string(proxyPassword_.size()) + "' (" +
                std::string(authSchemeName(proxyAuthScheme_)) + ")";
    }
    logDebugText(line);
}

int HttpLayer::abandonTransaction() {
    const std::string reason = lastErrorText();
    SocketEngine::disconnect(0);
    return fail(errc::interrupted, reason);
}

}  // namespace morvane
