// A server's NTLM challenge message from any source: read it, answer it with
// and without channel bindings, and describe it and the answer for the log.
// The answer's fields must lie inside it, and the log reader must stay
// inside whatever it is given.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "control/transport/auth_token_log.h"
#include "control/transport/ntlm.h"

using namespace morvane::auth;

namespace {

std::uint32_t le32(std::span<const std::uint8_t> in, std::size_t at) {
    return static_cast<std::uint32_t>(in[at]) | static_cast<std::uint32_t>(in[at + 1]) << 8 |
           static_cast<std::uint32_t>(in[at + 2]) << 16 | static_cast<std::uint32_t>(in[at + 3]) << 24;
}

void checkFields(const NtlmBytes& message) {
    if (message.size() < 72) std::abort();
    for (std::size_t descriptor = 12; descriptor <= 52; descriptor += 8) {
        const std::size_t length = message[descriptor] | message[descriptor + 1] << 8;
        if (le32(message, descriptor + 4) + length > message.size()) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    (void)describeAuthToken(input);

    const auto parsed = parseNtlmChallenge(input);
    if (parsed.challenge.has_value() == !parsed.error.empty()) std::abort();
    if (!parsed.challenge) return 0;
    if (parsed.challenge->targetInfo && parsed.challenge->targetInfo->size() > size) std::abort();

    NtlmAuthenticateOptions options;
    options.clientChallenge = std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8};
    const NtlmCredentials who{u"user", u"DOMAIN", u"password", u"HOST"};
    for (const bool bind : {false, true}) {
        static constexpr std::string_view kBinding = "tls-server-end-point:0123456789abcdef";
        if (bind)
            options.channelBindingData =
                std::span(reinterpret_cast<const std::uint8_t*>(kBinding.data()), kBinding.size());
        const auto answer = ntlmAuthenticateMessage(*parsed.challenge, who, options);
        if (!answer.ok()) {
            // Only a target list too long for the response's length field.
            if (answer.error != kNtlmBlobText || !parsed.challenge->targetInfo ||
                parsed.challenge->targetInfo->size() < 0xFFFF - 100) {
                std::abort();
            }
            continue;
        }
        checkFields(answer.message);
        if (describeAuthToken(answer.message).find("Authenticate") == std::string::npos) std::abort();
    }
    return 0;
}
