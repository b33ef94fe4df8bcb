#include "control/transport/http_authenticator.h"

#include <utility>

#include "control/engine/ascii.h"
#include "control/engine/engine_context.h"
#include "control/transport/auth_token_log.h"
#include "control/transport/ntlm.h"
#include "control/websocket/accept_key.h"
#include "platform/security/auth_tokens.h"
#include "platform/text/code_page.h"

namespace morvane {
namespace sec = platform::security;

namespace {

// LogDebugOption's bit for the readable account of every token.
constexpr std::int32_t logTokenContents = 0x4;

std::string signedCode(sec::SecStatus status) { return std::to_string(static_cast<std::int32_t>(status)); }

// What the platform says for the provider codes a token can fail with.
std::string_view providerMessage(sec::SecStatus status) {
    struct Message {
        sec::SecStatus code;
        std::string_view text;
    };
    static constexpr Message messages[] = {
        {sec::SEC_E_INSUFFICIENT_MEMORY, "Not enough memory is available to complete this request"},
        {sec::SEC_E_INVALID_HANDLE, "The handle specified is invalid"},
        {sec::SEC_E_UNSUPPORTED_FUNCTION, "The function requested is not supported"},
        {sec::SEC_E_TARGET_UNKNOWN, "The specified target is unknown or unreachable"},
        {sec::SEC_E_INTERNAL_ERROR, "The Local Security Authority cannot be contacted"},
        {sec::SEC_E_SECPKG_NOT_FOUND, "The requested security package does not exist"},
        {sec::SEC_E_INVALID_TOKEN, "The token supplied to the function is invalid"},
        {sec::SEC_E_LOGON_DENIED, "The logon attempt failed"},
        {sec::SEC_E_UNKNOWN_CREDENTIALS, "The credentials supplied to the package were not recognized"},
        {sec::SEC_E_NO_CREDENTIALS, "No credentials are available in the security package"},
        {sec::SEC_E_MESSAGE_ALTERED, "The message or signature supplied for verification has been altered"},
        {sec::SEC_E_NO_AUTHENTICATING_AUTHORITY, "No authority could be contacted for authentication."},
        {sec::SEC_E_CONTEXT_EXPIRED, "The context has expired and can no longer be used."},
        {sec::SEC_E_WRONG_PRINCIPAL, "The target principal name is incorrect."},
        {sec::SEC_E_TIME_SKEW, "The clock skew between the client and server computers is too great."},
        {sec::SEC_E_BAD_BINDINGS, "Client's supplied SSPI channel bindings were incorrect."},
    };
    for (const Message& message : messages) {
        if (message.code == status) return message.text;
    }
    return "Unknown error";
}

std::string_view trueFalse(bool value) { return value ? "True" : "False"; }

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::string_view authSchemeName(int scheme) {
    static constexpr std::string_view names[] = {"Basic", "Digest", "Proprietary", "None", "NTLM", "Negotiate"};
    if (scheme >= 0 && scheme < static_cast<int>(std::size(names))) return names[scheme];
    return "Automatic";
}

bool answersChallenges(int scheme) {
    return scheme == authscheme::digest || scheme == authscheme::ntlm || scheme == authscheme::negotiate;
}

HttpAuthenticator::HttpAuthenticator(EngineContext& context, const AuthSettings& settings, std::string_view headerName,
                                     int requestFailureCode)
    : context_(context), settings_(settings), headerName_(headerName), requestFailureCode_(requestFailureCode) {}

HttpAuthenticator::~HttpAuthenticator() = default;

void HttpAuthenticator::forgetExchange() {
    challengeToken_.reset();
    system_.reset();
}

void HttpAuthenticator::reset() {
    digest_ = {};
    forgetExchange();
}

void HttpAuthenticator::logText(std::string_view text) const {
    if (!context_.logDebugFile().empty()) context_.logDebugText(text);
}

bool HttpAuthenticator::takeChallenge(int scheme, std::string_view headerValue) {
    if (scheme == authscheme::digest) {
        const std::optional<std::string_view> parameters = auth::afterScheme(headerValue, "Digest");
        if (!parameters) return false;
        // A server may offer several Digest challenges, one per algorithm
        // (SHA-256 beside MD5, say); only the MD5 family can be answered, so
        // another one never displaces a challenge this client can use.
        auth::DigestState fresh;
        auth::takeDigestChallenge(*parameters, fresh, websocket::systemRandom());
        const bool answerable = equalsNoCase(fresh.algorithm, "md5") || equalsNoCase(fresh.algorithm, "md5-sess");
        if (answerable || digest_.nonce.empty()) digest_ = std::move(fresh);
        return true;
    }
    if (scheme == authscheme::ntlm || scheme == authscheme::negotiate) {
        const std::optional<std::string_view> token = auth::afterScheme(headerValue, authSchemeName(scheme));
        if (!token) return false;
        challengeToken_ = std::string(*token);
        return true;
    }
    return false;
}

AuthAnswer HttpAuthenticator::build(const AuthRequest& request) {
    AuthAnswer answer;
    const bool tokenScheme = request.scheme == authscheme::ntlm || request.scheme == authscheme::negotiate;
    const bool credentials = !request.user.empty() || !request.password.empty();
    if (request.scheme == authscheme::proprietary || request.scheme == authscheme::oauth ||
        (!credentials && !tokenScheme)) {
        // The application wrote the whole value itself, or there is nothing
        // to build from.
    } else if (request.scheme == authscheme::basic) {
        answer.value = auth::basicAuthorization(request.user, request.password);
    } else if (request.scheme == authscheme::digest) {
        auth::DigestAnswer digest = auth::digestAuthorization(digest_, {.user = request.user,
                                                                        .password = request.password,
                                                                        .method = request.method,
                                                                        .uri = request.uri,
                                                                        .body = request.body,
                                                                        .toProxy = request.tunnel});
        if (digest.code != 0) return {digest.code, std::move(digest.text), {}};
        answer.value = std::move(digest.value);
    } else if (tokenScheme) {
        answer = buildToken(request);
        if (answer.code != 0) return answer;
    }
    if (!answer.value && !request.preset.empty()) answer.value = std::string(request.preset);
    if (answer.value) {
        logText("AuthScheme: " + std::string(authSchemeName(request.scheme)));
        logText(headerName_ + ": " + *answer.value);
    }
    return answer;
}

AuthAnswer HttpAuthenticator::buildToken(const AuthRequest& request) {
    std::optional<std::string> input;
    if (challengeToken_) {
        input = websocket::base64Decode(*challengeToken_);
        // A token that is not base64 is answered as if none had come: the
        // server then says what it thinks of a fresh start.
        challengeToken_.reset();
    }
    const std::span<const std::uint8_t> inputBytes = input ? bytesOf(*input) : std::span<const std::uint8_t>{};
    AuthAnswer answer = settings_.useSystemSspi || request.scheme == authscheme::negotiate
                            ? systemToken(request, authSchemeName(request.scheme), inputBytes)
                            : ownNtlmToken(request, inputBytes);
    return answer;
}

AuthAnswer HttpAuthenticator::systemToken(const AuthRequest& request, std::string_view package,
                                          std::span<const std::uint8_t> input) {
    const sec::AuthIdentity split = sec::splitUserDomain(request.user);
    const bool serverSide = headerName_ == "Authorization";
    logText("Getting authentication token (System SSPI).\r\nParameters:\r\n\tauth=\"" + std::string(package) +
            "\", remote host=\"" + std::string(request.host) + "\", user=\"" + split.user + "\", domain=\"" +
            split.domain + "\", password(len)=\"" + std::to_string(request.password.size()) + "\", server side=\"" +
            std::string(trueFalse(serverSide)) + "\", extended protection=\"" +
            std::string(trueFalse(settings_.extendedProtection)) + "\"\r\n");

    const bool first = input.empty() || !system_;
    if (first) {
        system_ = std::make_unique<sec::AuthClient>();
        std::optional<sec::AuthIdentity> identity;
        if (!request.user.empty()) {
            identity = split;
            identity->password = std::string(request.password);
        }
        const sec::SecStatus acquired = system_->acquire(package, identity);
        if (acquired != sec::SEC_E_OK) {
            logText(system_->detail());
            system_.reset();
            return {authTokenFailed,
                    "Could not acquire security credentials (" + signedCode(acquired) +
                        "): " + std::string(providerMessage(acquired)),
                    {}};
        }
    }
    std::span<const std::uint8_t> bindings;
    if (request.secure && settings_.extendedProtection) {
        if (request.channelBindings.empty()) {
            system_.reset();
            return {
                authTokenFailed,
                "Error querying Channel Bindings token for TLS (" + signedCode(sec::SEC_E_UNSUPPORTED_FUNCTION) + ")",
                {}};
        }
        bindings = request.channelBindings;
    }
    if (input.empty()) {
        logText(auth::kGeneratingNegotiateText);
    } else {
        logText(auth::inputTokenText(input));
        if (context_.logDebugOption() & logTokenContents) logText(auth::describeAuthToken(input));
        logText(auth::kGeneratingAuthenticationText);
    }
    const std::string target =
        request.scheme == authscheme::negotiate && !settings_.kerberosSpn.empty()
            ? settings_.kerberosSpn
            : (request.scheme == authscheme::negotiate ? "HTTP/" : "") + std::string(request.host);
    sec::AuthStep step = system_->initialize(target, input, bindings);
    if (sec::secFailed(step.status)) {
        logText(step.detail);
        system_.reset();
        return {authTokenFailed,
                (input.empty() ? "Could not initialize security context (" : "Error consuming security token (") +
                    signedCode(step.status) + ")",
                {}};
    }
    logText(auth::generatedTokenText(step.token));
    if (context_.logDebugOption() & logTokenContents) logText(auth::describeAuthToken(step.token));
    logText("\r\nFinished getting authentication token (System SSPI).\r\n");
    if (step.status == sec::SEC_E_OK) system_.reset();
    return {0, {}, std::string(package) + " " + websocket::base64Encode(step.token)};
}

AuthAnswer HttpAuthenticator::ownNtlmToken(const AuthRequest& request, std::span<const std::uint8_t> input) {
    const sec::AuthIdentity split = sec::splitUserDomain(request.user);
    const bool serverSide = headerName_ == "Authorization";
    logText("Getting authentication token.\r\nParameters:\r\n\tprotocol=\"NTLM\", user=\"" + split.user +
            "\", domain=\"" + split.domain + "\", password(len)=\"" + std::to_string(request.password.size()) +
            "\", server=\"" + std::string(request.host) + "\", server side=\"" + std::string(trueFalse(serverSide)) +
            "\"\r\n");
    auth::NtlmBytes token;
    if (input.empty()) {
        logText(auth::kGeneratingNegotiateText);
        token = auth::ntlmNegotiateMessage();
    } else {
        logText(auth::inputTokenText(input));
        if (context_.logDebugOption() & logTokenContents) logText(auth::describeAuthToken(input));
        logText(auth::kGeneratingAuthenticationText);
        const auth::NtlmChallengeResult challenge = auth::parseNtlmChallenge(input);
        if (!challenge.challenge) return {requestFailureCode_, challenge.error, {}};
        const unsigned codePage = static_cast<unsigned>(context_.effectiveCodePage());
        const std::u16string user = codepage::multiByteToWide(codePage, split.user).text;
        const std::u16string domain = codepage::multiByteToWide(codePage, split.domain).text;
        const std::u16string password = codepage::multiByteToWide(codePage, request.password).text;
        auth::NtlmAuthenticateOptions options;
        if (request.secure && settings_.extendedProtection && !request.channelBindings.empty()) {
            options.channelBindingData = request.channelBindings;
        }
        auth::NtlmMessageResult message =
            auth::ntlmAuthenticateMessage(*challenge.challenge, {user, domain, password}, options);
        if (!message.ok()) return {requestFailureCode_, message.error, {}};
        token = std::move(message.message);
    }
    logText(auth::generatedTokenText(token));
    if (context_.logDebugOption() & logTokenContents) logText(auth::describeAuthToken(token));
    logText(auth::kFinishedTokenText);
    return {0, {}, "NTLM " + websocket::base64Encode(token)};
}

}  // namespace morvane
