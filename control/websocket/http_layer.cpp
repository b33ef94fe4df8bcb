#include "control/websocket/http_layer.h"

#include <algorithm>

#include "control/engine/ascii.h"
#include "control/engine/engine_errors.h"

namespace morvane {
namespace {

constexpr std::string_view defaultUserAgent = "QuillonWS Morvane 1.0";
constexpr std::string_view defaultAcceptEncoding = "gzip, deflate";
constexpr std::string_view kerberosPrefix = "Negotiate ";
constexpr int authProprietary = 2;

}  // namespace

HttpLayer::HttpLayer(EngineContext& context, ByteStream& below, const ProxySettings& proxy)
    : context_(context),
      below_(below),
      proxy_(proxy),
      acceptEncoding_(defaultAcceptEncoding),
      userAgent_(defaultUserAgent) {
    below_.setListener(this);
    context_.addSettingsTable(SettingsRank::Http, *this);
}

HttpLayer::~HttpLayer() {
    context_.removeSettings(this);
    below_.setListener(nullptr);
}

std::span<const Setting<HttpLayer>> HttpLayer::settings() {
    using H = HttpLayer;
    using A = SettingAccess;
    static const Setting<H> table[] = {
        {.name = "UserAgent", .text = &H::userAgent_},
        {.name = "HTTPVersion", .text = &H::httpVersion_},
        {.name = "KeepAlive", .boolean = &H::keepAlive_},
        {.name = "FollowRedirects", .integer = &H::followRedirects_},
        {.name = "MaxRedirectAttempts", .integer = &H::maxRedirectAttempts_},
        {.name = "AllowIdenticalRedirectURL", .boolean = &H::allowIdenticalRedirectUrl_},
        {.name = "GetOn302Redirect", .boolean = &H::getOn302Redirect_},
        {.name = "AbsoluteURI", .boolean = &H::absoluteUri_},
        {.name = "EncodeURL", .boolean = &H::encodeUrl_},
        {.name = "EncodeQueryString", .boolean = &H::encodeQueryString_},
        {.name = "EncodeRedirectLocation", .boolean = &H::encodeRedirectLocation_},
        {.name = "OtherHeaders", .text = &H::otherHeaders_},
        {.name = "Authorization", .text = &H::authorization_},
        // A ticket obtained elsewhere, sent as it is.
        {.name = "KerberosToken",
         .access = A::WriteOnly,
         .write =
             [](H& h, std::string_view v) {
                 h.authScheme_ = authProprietary;
                 h.authorization_ = std::string(kerberosPrefix) + std::string(v);
                 return 0;
             }},
        {.name = "HttpCookies", .text = &H::httpCookies_},
        {.name = "DontClearCookiesOnUrlChange", .boolean = &H::dontClearCookiesOnUrlChange_},
        {.name = "ProxyAuthorization", .text = &H::proxyAuthorization_},
        {.name = "IfModifiedSince", .text = &H::ifModifiedSince_},
        {.name = "AcceptEncoding", .text = &H::acceptEncoding_},
        {.name = "AllowHTTPCompression", .boolean = &H::allowHttpCompression_},
        {.name = "Loglevel", .integer = &H::logLevel_},
        {.name = "TransferredHeaders", .access = A::ReadOnly, .text = &H::transferredHeaders_},
        {.name = "SentHeaders", .access = A::ReadOnly, .text = &H::sentHeaders_},
        // Switched on with "on"; reads back as the request it recorded.
        {.name = "TransferredRequest",
         .text = &H::transferredRequest_,
         .write =
             [](H& h, std::string_view v) {
                 h.recordTransferredRequest_ = equalsNoCase(v, "on");
                 return 0;
             }},
        {.name = "NegotiatedHTTPVersion", .access = A::ReadOnly, .text = &H::negotiatedHttpVersion_},
        {.name = "BytesTransferred", .access = A::ReadOnly, .integer64 = &H::bytesTransferred_},
        {.name = "URL", .access = A::ReadOnly, .text = &H::url_},
        {.name = "StatusLine", .access = A::ReadOnlyIgnoringWrites, .text = &H::statusLine_},
        {.name = "TransferredData", .access = A::ReadOnlyIgnoringWrites, .text = &H::transferredData_},
    };
    return table;
}

void HttpLayer::setSchemes(std::string_view plain, std::string_view secure) {
    plainScheme_ = plain;
    secureScheme_ = secure;
}

int HttpLayer::resetHeaders() {
    if (action_ != Action::None) return context_.fail(errc::busy, errtext::busy);

    authorization_.clear();
    proxyAuthorization_.clear();
    accept_.clear();
    acceptEncoding_ = defaultAcceptEncoding;
    from_.clear();
    userAgent_ = defaultUserAgent;
    ifModifiedSince_.clear();
    referer_.clear();
    pragma_.clear();
    range_.clear();
    httpCookies_.clear();
    otherHeaders_.clear();
    cookies_.clear();
    clearResponse();
    getOn302Redirect_ = false;
    // A live connection keeps the port it is connected to.
    if (!below_.isOpen()) port_ = defaultPort_;
    return 0;
}

void HttpLayer::clearResponse() {
    statusLine_.clear();
    statusCode_ = 0;
    reasonPhrase_.clear();
    parsedHeaders_.clear();
    transferredHeaders_.clear();
    redirectLocation_.clear();
    transferredData_.clear();
    responseComplete_ = false;
}

void HttpLayer::setCookieCount(int count) { cookies_.resize(static_cast<std::size_t>(std::max(count, 0))); }

void HttpLayer::setCookieName(std::size_t index, std::string_view name) {
    if (index < cookies_.size()) cookies_[index].name = name;
}

void HttpLayer::setCookieValue(std::size_t index, std::string_view value) {
    if (index < cookies_.size()) cookies_[index].value = value;
}

void HttpLayer::addCookie(std::string_view name, std::string_view value) {
    cookies_.push_back(CookieRecord{.name = std::string(name),
                                    .value = std::string(value),
                                    .expiration = {},
                                    .domain = {},
                                    .path = {},
                                    .secure = false,
                                    .addedByCaller = true});
}

}  // namespace morvane
