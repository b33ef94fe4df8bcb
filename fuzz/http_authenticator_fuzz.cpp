// WWW-Authenticate values from any server through the authenticator the HTTP
// layer holds: each value is offered as a challenge and answered, for Digest
// or for the control's own NTLM (the first byte picks), as the retry loop
// does. What comes back is a header value of the scheme or a failure with
// its text, never anything else.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "control/engine/engine_context.h"
#include "control/transport/auth_settings.h"
#include "control/transport/http_authenticator.h"
#include "control/websocket/accept_key.h"

using namespace morvane;

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if ((text[i] | 0x20) != (prefix[i] | 0x20)) return false;
    }
    return true;
}

// The NTLM message type inside an "NTLM " value.
int ntlmType(const std::string& value) {
    const auto bytes = websocket::base64Decode(std::string_view(value).substr(5));
    if (!bytes || bytes->size() < 12) return 0;
    return static_cast<unsigned char>((*bytes)[8]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool ntlm = (data[0] & 1) != 0;
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);

    EngineContext context;
    AuthSettings settings{EngineEnvironment{}};
    settings.useSystemSspi = false;
    HttpAuthenticator authenticator(context, settings, "Authorization", 151);
    const int scheme = ntlm ? authscheme::ntlm : authscheme::digest;
    const AuthRequest request{.scheme = scheme, .user = "DOM\\u", .password = "p", .host = "h", .uri = "/"};

    while (true) {
        const auto end = rest.find('\n');
        const std::string_view header = rest.substr(0, end);
        const std::string_view name = ntlm ? "NTLM" : "Digest";
        const bool ofScheme =
            startsWithNoCase(header, name) && (header.size() == name.size() || header[name.size()] == ' ');
        if (authenticator.takeChallenge(scheme, header) != ofScheme) std::abort();

        const AuthAnswer answer = authenticator.build(request);
        if (answer.code != 0) {
            // Only the own NTLM refuses, and only a challenge it was given.
            if (!ntlm || !ofScheme || answer.code != 151 || answer.text.empty() || answer.value) std::abort();
        } else if (ntlm) {
            if (!answer.value || !answer.value->starts_with("NTLM ")) std::abort();
            const int type = ntlmType(*answer.value);
            if (type != 1 && type != 3) std::abort();
        } else if (answer.value && !answer.value->starts_with("Digest username=\"DOM\\u\", realm=\"")) {
            std::abort();
        }

        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }

    // A new transaction opens the NTLM exchange again.
    authenticator.forgetExchange();
    if (ntlm) {
        const AuthAnswer first = authenticator.build(request);
        if (first.code != 0 || !first.value || ntlmType(*first.value) != 1) std::abort();
    }
    return 0;
}
