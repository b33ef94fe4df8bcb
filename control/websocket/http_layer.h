// The HTTP client layer of the engine: what the opening handshake sends and
// what it received. It keeps the request fields and switches, the cookie
// list, the server-authentication settings, the last response, and the
// accounting of redirects and authentication retries.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "control/transport/socket_engine.h"

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

class HttpLayer : public SocketEngine {
public:
    enum class Action { None, Get };

    explicit HttpLayer(const EngineEnvironment& environment = {});

    static std::span<const Setting<HttpLayer>> settings();

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

protected:
    std::optional<int> configure(const ConfigText& request, std::string& result) override;

    // The names of the two schemes this layer serves, and their ports.
    void setSchemes(std::string_view plain, std::string_view secure);
    void clearResponse();

    std::string plainScheme_;
    std::string secureScheme_;
    static constexpr int plainDefaultPort = 80;
    static constexpr int secureDefaultPort = 443;

    // The URL as given and the default port of its scheme.
    std::string url_;
    int defaultPort_ = plainDefaultPort;

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
    int authRetry401_ = 0;
    int authRetry407_ = 0;

    // Redirects.
    std::int32_t followRedirects_ = 0;
    std::int32_t maxRedirectAttempts_ = 20;
    int redirectsLeft_ = 20;
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
};

}  // namespace morvane
