// Server certificates from any peer through the channel-binding hash, and the
// same bytes as a logon name and a target through the name rules: a binding
// is empty or the prefix and one whole hash, bytes after a certificate never
// change it, and a split name joins back to what was typed.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/security/auth_tokens.h"

using namespace platform::security;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const std::vector<std::uint8_t> binding = tlsServerEndPointBinding(bytes);
    if (!binding.empty()) {
        constexpr std::string_view prefix = "tls-server-end-point:";
        check(binding.size() > prefix.size());
        check(std::string_view(reinterpret_cast<const char*>(binding.data()), prefix.size()) == prefix);
        const std::size_t hash = binding.size() - prefix.size();
        // SHA-224 up to SHA-512; MD5 and SHA-1 never stay.
        check(hash == 28 || hash == 32 || hash == 48 || hash == 64);
        std::vector<std::uint8_t> longer(bytes.begin(), bytes.end());
        longer.push_back(0x30);
        check(tlsServerEndPointBinding(longer) == binding);
    }

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const AuthIdentity identity = splitUserDomain(text);
    check(identity.password.empty());
    if (text.find('\\') != std::string_view::npos) {
        check(identity.domain + "\\" + identity.user == text);
    } else if (text.find('@') != std::string_view::npos) {
        check(identity.user + "@" + identity.domain == text);
    } else {
        check(identity.user == text && identity.domain.empty());
    }
    check(ntlmUserName(identity).size() >= identity.user.size());
    check(kerberosPrincipal(identity).size() >= identity.user.size());
    for (auto package : {AuthPackage::Ntlm, AuthPackage::Negotiate}) {
        const ServiceName name = serviceNameFor(package, text);
        check(!name.text.empty());
        check(!name.kerberosPrincipal || package == AuthPackage::Negotiate);
    }
    return 0;
}
