// The HTTP client layer of the engine: the GET transaction of the opening
// handshake. It keeps the current URL, the request fields and switches, the
// cookie list, the server-authentication settings, the last response, and the
// accounting of redirects and authentication retries; it connects the stream
// below, sends the request, reads the response as it arrives (raising Header
// and SetCookie), judges the status and follows redirects. The layer above
// supplies the request's protocol lines and decides what a final response
// means; once it has, received bytes pass straight through to it.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "control/engine/byte_stream.h"
#include "control/engine/engine_context.h"
#include "control/transport/http_authenticator.h"
#include "control/transport/proxy_settings.h"
#include "control/websocket/handshake_request.h"
#include "control/websocket/redirect_policy.h"
#include "control/websocket/response_reader.h"
#include "control/websocket/upgrade_check.h"
#include "control/websocket/url.h"

namespace morvane {

// One record of the cookie list, fields in the list's own order.
struct CookieRecord {
    std::string name;
    std::string value;
    std::string expiration;
    std::string domain;
    std::string path;
    bool secure = false;
    // Set for records the caller added, clear for those a response set; a new
    // host keeps only the caller's.
    bool addedByCaller = false;
};

struct ParsedHeader {
    std::string field;
    std::string value;
};

class HttpLayer final : public ByteStream, private StreamListener {
public:
    enum class Action { None, Get };

    // Borrows the context, the stream below and the proxy settings for its
    // lifetime, and listens to the stream.
    HttpLayer(EngineContext& context, ByteStream& below, const ProxySettings& proxy);
    ~HttpLayer() override;
    HttpLayer(const HttpLayer&) = delete;
    HttpLayer& operator=(const HttpLayer&) = delete;

    static std::span<const Setting<HttpLayer>> settings();

    // ByteStream, for the layer above: everything passes through, except the
    // response bytes of a transaction in progress, which this layer reads.
    void setListener(StreamListener* listener) override { listener_ = listener; }
    int connect(std::string_view host, int port) override { return below_.connect(host, port); }
    int send(std::span<const std::uint8_t> data, std::size_t* accepted = nullptr) override {
        return below_.send(data, accepted);
    }
    void setAcceptData(bool accept) override { below_.setAcceptData(accept); }
    bool acceptData() const override { return below_.acceptData(); }
    int close(int errorCode = 0) override { return below_.close(errorCode); }
    bool isOpen() const override { return below_.isOpen(); }
    bool isConnected() const override { return below_.isConnected(); }

    // Switches the secure channel below on for the secure scheme and off for
    // the plain one, before a connection starts; false when there is no
    // secure channel to switch on. Without a switch there is none, and a URL
    // of the secure scheme is refused: nothing meant to be secret leaves in
    // plaintext.
    using ChannelSwitch = std::function<bool(bool secure)>;
    void setChannelSwitch(ChannelSwitch channelSwitch) { channelSwitch_ = std::move(channelSwitch); }

    // Builds Authorization from AuthScheme, User and Password and answers
    // the server's challenges; without one the Authorization property goes
    // out as it is and no challenge is answered. `channelBindings` gives the
    // secure channel's bindings once its handshake is done.
    using ChannelBindings = std::function<std::vector<std::uint8_t>()>;
    void setAuthenticator(HttpAuthenticator* server, ChannelBindings channelBindings) {
        serverAuth_ = server;
        channelBindings_ = std::move(channelBindings);
    }
    // Builds Proxy-Authorization from ProxyAuthScheme, ProxyUser and
    // ProxyPassword for requests that go to an HTTP proxy (no tunnel), and
    // answers its 407 challenges; without one the ProxyAuthorization setting
    // goes out as it is.
    void setProxyAuthenticator(HttpAuthenticator* proxy) { proxyAuth_ = proxy; }

    // Clears what the caller set for the request (its header fields, the
    // cookie list), the last response and GetOn302Redirect, and puts the
    // remote port back to the default port of the URL's scheme. Refused while
    // an HTTP transaction runs.
    int resetHeaders();

    Action action() const { return action_; }
    const std::string& url() const { return url_; }
    int defaultPort() const { return defaultPort_; }
    const std::string& plainScheme() const { return plainScheme_; }
    const std::string& secureScheme() const { return secureScheme_; }

    // Request.
    const std::string& authorization() const { return authorization_; }
    void setAuthorization(std::string_view value) { authorization_ = value; }
    int authScheme() const { return authScheme_; }
    void setAuthScheme(int scheme) { authScheme_ = scheme; }
    const std::string& user() const { return user_; }
    void setUser(std::string_view user) { user_ = user; }
    const std::string& password() const { return password_; }
    void setPassword(std::string_view password) { password_ = password; }
    int followRedirects() const { return followRedirects_; }
    void setFollowRedirects(int policy) { followRedirects_ = policy; }
    const std::string& origin() const { return origin_; }
    void setOrigin(std::string_view origin) { origin_ = origin; }
    const std::string& otherHeaders() const { return otherHeaders_; }
    void setOtherHeaders(std::string_view headers) { otherHeaders_ = headers; }
    const std::string& subProtocols() const { return subProtocols_; }
    void setSubProtocols(std::string_view protocols) { subProtocols_ = protocols; }
    const std::string& userAgent() const { return userAgent_; }
    const std::string& httpVersion() const { return httpVersion_; }
    bool keepAlive() const { return keepAlive_; }
    void setKeepAlive(bool keepAlive) { keepAlive_ = keepAlive; }

    // Where the current URL points. A live connection keeps the endpoint it
    // is connected to.
    const std::string& host() const { return host_; }
    int port() const { return port_; }
    const std::string& scheme() const { return scheme_; }
    const std::string& reasonPhrase() const { return reasonPhrase_; }

    // Cookie list. Indexed operations outside the list change nothing; the
    // control checks indices before it gets here.
    const std::vector<CookieRecord>& cookies() const { return cookies_; }
    void setCookieCount(int count);
    void setCookieName(std::size_t index, std::string_view name);
    void setCookieValue(std::size_t index, std::string_view value);
    void addCookie(std::string_view name, std::string_view value);

    // Last response.
    const std::string& statusLine() const { return statusLine_; }
    int statusCode() const { return statusCode_; }
    const std::vector<ParsedHeader>& parsedHeaders() const { return parsedHeaders_; }
    const std::string& transferredHeaders() const { return transferredHeaders_; }
    // The response of the transaction ended with a 101: what follows it
    // belongs to the layer above.
    bool upgraded() const { return response_.complete() && statusCode_ == 101; }
    // The error that ended the connection under the last transaction (0 for
    // none, or an orderly end).
    int transportError() const { return transportError_; }

    // The names of the two schemes this layer serves, and their ports.
    void setSchemes(std::string_view plain, std::string_view secure);
    void clearResponse();

    // The transaction (http_transaction.cpp).

    // Makes `text` the current URL: a Connect URL, or with `relative` a
    // redirect's Location, which uses up one redirect of the allowance and
    // may not repeat the current URL. A move to another endpoint closes the
    // socket and forgets the server's Digest challenge; a new host or port
    // drops the cookies the server set. 0, or
    // 151 / 310 for a refused redirect target.
    int applyUrl(std::string_view text, bool relative);
    // The request of one attempt, composed anew for each. Without one the
    // request is a plain GET; the WebSocket layer adds its upgrade lines with
    // a new key.
    using RequestComposer = std::function<int(std::string& request)>;
    // Runs the GET transaction until a final answer: connects when needed,
    // sends the request, reads the response, judges its status and follows
    // redirects. 0 when the final status is 101 or 2xx (the response is then
    // in the status and header fields), else the error code with its text.
    int runGetTransaction(const RequestComposer& compose = {});
    const websocket::ResponseReader& response() const { return response_; }
    bool readingResponse() const { return action_ == Action::Get && !response_.complete() && !response_.failed(); }
    websocket::Url currentUrl() const;
    websocket::RequestFields requestFields() const;

private:
    // StreamListener: the stream below.
    void streamConnected(int code) override;
    int streamReceived(std::span<const std::uint8_t> bytes, bool endOfLine) override;
    std::span<std::uint8_t> receiveRoom() override;
    int receivedInPlace(std::size_t count) override;
    std::size_t bytesAwaited() override;
    void streamReadyToSend() override;
    void streamClosed(int code, const std::string& description) override;

    // Takes received bytes while the response is being read; returns how
    // many belong to it. Raises Header and SetCookie as lines complete.
    std::size_t feedResponse(std::string_view bytes);
    // 401 or 407 with a challenge-answering scheme, first time round: true
    // when an answer for the retry has been prepared. Without one the status
    // fails the transaction as any other would.
    bool prepareChallengeAnswer(bool proxy);
    // The Authorization (and, to an HTTP proxy, Proxy-Authorization) value
    // for the next request; 0 or the failure.
    int buildAuthorization();
    // The connection goes to an HTTP proxy that takes the request itself:
    // its request line names the whole URL.
    bool viaHttpProxy() const;

    int runGetAttempt(const RequestComposer& compose);
    int followRedirect();
    void takeNewHeaders();
    void keepResponseBody();
    void logTransaction();
    // A wait step failed (Timeout or Interrupt): the transaction is
    // abandoned with the connection, and returns 301 with the step's text.
    int abandonTransaction();

    EngineContext& context_;
    ByteStream& below_;
    const ProxySettings& proxy_;
    StreamListener* listener_ = nullptr;
    ChannelSwitch channelSwitch_;
    HttpAuthenticator* serverAuth_ = nullptr;
    ChannelBindings channelBindings_;
    // The Authorization value of the request being sent.
    std::string requestAuthorization_;
    HttpAuthenticator* proxyAuth_ = nullptr;
    std::string requestProxyAuthorization_;
    ConnectOutcome connectOutcome_;
    int transportError_ = 0;

    std::string plainScheme_;
    std::string secureScheme_;
    static constexpr int plainDefaultPort = 80;
    static constexpr int secureDefaultPort = 443;

    // The URL as given (a followed redirect's as resolved), its scheme, the
    // default port of that scheme, and the request target it gives.
    std::string url_;
    std::string scheme_;
    std::string host_;
    std::int32_t port_ = 0;
    int defaultPort_ = plainDefaultPort;
    std::string requestPath_ = "/";
    bool requestHostIsIPv6_ = false;

    // Request fields; an empty one is not sent.
    std::string authorization_;
    std::string proxyAuthorization_;
    std::string accept_;
    std::string acceptEncoding_;
    std::string from_;
    std::string userAgent_;
    std::string ifModifiedSince_;
    std::string referer_;
    std::string pragma_;
    std::string range_;
    std::string httpCookies_;
    std::string otherHeaders_;
    std::string origin_;
    std::string subProtocols_;
    std::string httpVersion_ = "1.1";
    bool keepAlive_ = false;
    bool absoluteUri_ = false;
    bool allowHttpCompression_ = false;
    bool encodeUrl_ = false;
    bool encodeQueryString_ = true;
    bool encodeRedirectLocation_ = false;
    std::int32_t logLevel_ = 1;

    // Server authentication.
    std::int32_t authScheme_ = 0;
    std::string user_;
    std::string password_;
    websocket::AuthRetries authRetries_;
    // The challenges of the last response, kept for the answer to them.
    std::vector<std::string> serverChallenges_;
    std::vector<std::string> proxyChallenges_;

    // Redirects.
    std::int32_t followRedirects_ = 0;
    std::int32_t maxRedirectAttempts_ = 20;
    websocket::RedirectAllowance redirectAllowance_;
    bool allowIdenticalRedirectUrl_ = false;
    bool getOn302Redirect_ = false;

    std::vector<CookieRecord> cookies_;
    bool dontClearCookiesOnUrlChange_ = false;

    // The transaction in progress and what it sent.
    Action action_ = Action::None;
    std::string sentHeaders_;
    bool recordTransferredRequest_ = false;
    std::string transferredRequest_;

    // The last response.
    std::string statusLine_;
    std::int32_t statusCode_ = 0;
    std::string reasonPhrase_;
    std::vector<ParsedHeader> parsedHeaders_;
    std::string transferredHeaders_;
    std::string redirectLocation_;
    std::string transferredData_;
    bool responseComplete_ = false;
    std::string negotiatedHttpVersion_;
    std::int64_t bytesTransferred_ = 0;

    websocket::ResponseReader response_;
    std::size_t headersTaken_ = 0;
    // The server ends the connection after this response.
    bool serverCloses_ = false;
};

}  // namespace morvane
