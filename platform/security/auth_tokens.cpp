#include "platform/security/auth_tokens.h"

#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/security/gssapi_library.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace platform::security {
namespace {

// The mechanisms by their DER object identifiers.
constexpr std::uint8_t kSpnegoOid[] = {0x2b, 0x06, 0x01, 0x05, 0x05, 0x02};                      // 1.3.6.1.5.5.2
constexpr std::uint8_t kKerberosOid[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x12, 0x01, 0x02, 0x02};  // 1.2.840.113554.1.2.2
constexpr std::uint8_t kNtlmOid[] = {0x2b, 0x06, 0x01, 0x04, 0x01,
                                     0x82, 0x37, 0x02, 0x02, 0x0a};  // 1.3.6.1.4.1.311.2.2.10
// And the name types (RFC 2744 and RFC 1964), which the library exports as
// variables; ours are constants so that nothing needs the library loaded.
constexpr std::uint8_t kUserNameOid[] = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                         0x12, 0x01, 0x02, 0x01, 0x01};  // 1.2.840.113554.1.2.1.1
constexpr std::uint8_t kHostBasedServiceOid[] = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                                 0x12, 0x01, 0x02, 0x01, 0x04};  // 1.2.840.113554.1.2.1.4
constexpr std::uint8_t kKerberosPrincipalOid[] = {0x2a, 0x86, 0x48, 0x86, 0xf7,
                                                  0x12, 0x01, 0x02, 0x02, 0x01};  // 1.2.840.113554.1.2.2.1

gss_OID_desc oidOf(const std::uint8_t* bytes, std::size_t size) {
    return {static_cast<OM_uint32>(size), const_cast<std::uint8_t*>(bytes)};
}
gss_OID_desc gSpnego = oidOf(kSpnegoOid, sizeof kSpnegoOid);
gss_OID_desc gKerberos = oidOf(kKerberosOid, sizeof kKerberosOid);
gss_OID_desc gNtlm = oidOf(kNtlmOid, sizeof kNtlmOid);
gss_OID_desc gUserName = oidOf(kUserNameOid, sizeof kUserNameOid);
gss_OID_desc gHostBasedService = oidOf(kHostBasedServiceOid, sizeof kHostBasedServiceOid);
gss_OID_desc gKerberosPrincipal = oidOf(kKerberosPrincipalOid, sizeof kKerberosPrincipalOid);

// The loaded library. Every path to a call goes through acquire(), which
// refuses when the library is not there.
const GssapiLibrary& gssapi() { return *GssapiLibrary::get(); }

bool sameOid(const gss_OID_desc& a, const gss_OID_desc& b) {
    return a.length == b.length && std::memcmp(a.elements, b.elements, a.length) == 0;
}

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return upper(x) == upper(y); });
}

gss_buffer_desc bufferOf(std::string_view text) { return {text.size(), const_cast<char*>(text.data())}; }
gss_buffer_desc bufferOf(std::span<const std::uint8_t> bytes) {
    return {bytes.size(), const_cast<std::uint8_t*>(bytes.data())};
}

// GSSAPI's text for one status value, every message of it joined.
std::string statusText(OM_uint32 value, int kind) {
    std::string text;
    OM_uint32 context = 0;
    do {
        OM_uint32 minor = 0;
        gss_buffer_desc message = GSS_C_EMPTY_BUFFER;
        if (GSS_ERROR(gssapi().display_status(&minor, value, kind, GSS_C_NO_OID, &context, &message))) break;
        if (!text.empty()) text += "; ";
        text.append(static_cast<const char*>(message.value), message.length);
        gssapi().release_buffer(&minor, &message);
    } while (context != 0);
    return text;
}

std::string failureText(std::string_view call, OM_uint32 major, OM_uint32 minor) {
    std::string text(call);
    text += ": ";
    text += statusText(major, GSS_C_GSS_CODE);
    if (minor != 0) {
        text += ": ";
        text += statusText(minor, GSS_C_MECH_CODE);
    }
    return text;
}

enum class Call { Acquire, Initialize };
// Minor codes are Kerberos' own only when Kerberos was called directly; the
// mechanism glue renumbers what comes up through SPNEGO.
enum class Minor { Kerberos, Opaque };

// Kerberos' reason, when Kerberos was asked directly and its reason is one
// the provider has a code for.
std::optional<SecStatus> kerberosReason(OM_uint32 minor) {
    switch (static_cast<krb5_error_code>(minor)) {
        case KRB5KDC_ERR_PREAUTH_FAILED:
        case KRB5KRB_AP_ERR_BAD_INTEGRITY:
        case KRB5KDC_ERR_KEY_EXP:
        case KRB5KDC_ERR_CLIENT_REVOKED: return SEC_E_LOGON_DENIED;
        case KRB5KDC_ERR_C_PRINCIPAL_UNKNOWN:
        case KRB5_PARSE_MALFORMED: return SEC_E_UNKNOWN_CREDENTIALS;
        case KRB5KDC_ERR_S_PRINCIPAL_UNKNOWN: return SEC_E_TARGET_UNKNOWN;
        case KRB5_KDC_UNREACH:
        case KRB5_REALM_UNKNOWN:
        case KRB5_REALM_CANT_RESOLVE:
        case KRB5KDC_ERR_WRONG_REALM: return SEC_E_NO_AUTHENTICATING_AUTHORITY;
        case KRB5KRB_AP_ERR_SKEW: return SEC_E_TIME_SKEW;
        case KRB5KRB_AP_WRONG_PRINC:
        case KRB5KRB_AP_ERR_NOT_US: return SEC_E_WRONG_PRINCIPAL;
        case KRB5_FCC_NOFILE:
        case KRB5_CC_NOTFOUND: return SEC_E_NO_CREDENTIALS;
        default: return std::nullopt;
    }
}

// The table in the header.
SecStatus mapFailure(OM_uint32 major, OM_uint32 minor, Call call, Minor kind) {
    if (kind == Minor::Kerberos) {
        if (auto reason = kerberosReason(minor)) return *reason;
    }
    switch (GSS_ROUTINE_ERROR(major)) {
        case GSS_S_BAD_MECH: return SEC_E_SECPKG_NOT_FOUND;
        case GSS_S_BAD_NAME:
        case GSS_S_BAD_NAMETYPE: return call == Call::Acquire ? SEC_E_UNKNOWN_CREDENTIALS : SEC_E_TARGET_UNKNOWN;
        case GSS_S_BAD_BINDINGS: return SEC_E_BAD_BINDINGS;
        case GSS_S_BAD_SIG: return SEC_E_MESSAGE_ALTERED;
        case GSS_S_NO_CRED:
        case GSS_S_CREDENTIALS_EXPIRED: return SEC_E_NO_CREDENTIALS;
        case GSS_S_NO_CONTEXT: return SEC_E_INVALID_HANDLE;
        case GSS_S_DEFECTIVE_TOKEN: return SEC_E_INVALID_TOKEN;
        case GSS_S_DEFECTIVE_CREDENTIAL: return SEC_E_UNKNOWN_CREDENTIALS;
        case GSS_S_CONTEXT_EXPIRED: return SEC_E_CONTEXT_EXPIRED;
        case GSS_S_UNAVAILABLE: return SEC_E_UNSUPPORTED_FUNCTION;
        default: break;
    }
    if (minor == ENOMEM) return SEC_E_INSUFFICIENT_MEMORY;
    return call == Call::Acquire ? SEC_E_NO_CREDENTIALS : SEC_E_INTERNAL_ERROR;
}

bool mechanismInstalled(const gss_OID_desc& mechanism) {
    OM_uint32 minor = 0;
    gss_OID_set mechanisms = GSS_C_NO_OID_SET;
    if (GSS_ERROR(gssapi().indicate_mechs(&minor, &mechanisms))) return false;
    bool found = false;
    for (std::size_t i = 0; i < mechanisms->count && !found; ++i) found = sameOid(mechanisms->elements[i], mechanism);
    gssapi().release_oid_set(&minor, &mechanisms);
    return found;
}

}  // namespace

std::string_view authPackageName(AuthPackage package) { return package == AuthPackage::Ntlm ? "NTLM" : "Negotiate"; }

std::optional<AuthPackage> authPackageFromName(std::string_view name) {
    for (auto package : {AuthPackage::Ntlm, AuthPackage::Negotiate}) {
        if (equalsIgnoringCase(name, authPackageName(package))) return package;
    }
    return std::nullopt;
}

AuthIdentity splitUserDomain(std::string_view logonName) {
    if (auto slash = logonName.find('\\'); slash != std::string_view::npos) {
        return {std::string(logonName.substr(slash + 1)), std::string(logonName.substr(0, slash)), {}};
    }
    if (auto at = logonName.rfind('@'); at != std::string_view::npos) {
        return {std::string(logonName.substr(0, at)), std::string(logonName.substr(at + 1)), {}};
    }
    return {std::string(logonName), {}, {}};
}

std::string kerberosPrincipal(const AuthIdentity& identity) {
    if (identity.domain.empty()) return identity.user;
    std::string principal;
    for (char c : identity.user) {
        if (c == '@') principal += '\\';
        principal += c;
    }
    principal += '@';
    for (char c : identity.domain) principal += upper(c);
    return principal;
}

std::string ntlmUserName(const AuthIdentity& identity) {
    return identity.domain.empty() ? identity.user : identity.domain + "\\" + identity.user;
}

ServiceName serviceNameFor(AuthPackage package, std::string_view target) {
    const auto at = target.find('@');
    if (at != std::string_view::npos) {
        if (package == AuthPackage::Negotiate) return {std::string(target), true};
        target = target.substr(0, at);
    }
    const auto slash = target.find('/');
    if (slash == std::string_view::npos) return {"HTTP@" + std::string(target), false};
    return {std::string(target.substr(0, slash)) + "@" + std::string(target.substr(slash + 1)), false};
}

struct AuthClient::State {
    AuthPackage package = AuthPackage::Negotiate;
    // What the tokens are made with: SPNEGO's credential or NTLM's.
    gss_cred_id_t credential = GSS_C_NO_CREDENTIAL;
    // Negotiate: the same Kerberos credential on its own. Through SPNEGO,
    // Kerberos' own error codes reach us renumbered; asked directly it tells
    // why (wrong password, unknown service, no KDC).
    gss_cred_id_t kerberos = GSS_C_NO_CREDENTIAL;
    // Tickets got with a password live in a memory cache of this exchange,
    // shared by both credentials above and destroyed with them.
    krb5_context krb = nullptr;
    krb5_ccache memoryCache = nullptr;
    gss_ctx_id_t context = GSS_C_NO_CONTEXT;
    gss_name_t target = GSS_C_NO_NAME;
    std::vector<std::uint8_t> bindings;
    bool started = false;
    bool over = false;
    std::string detail;

    ~State() { release(); }

    void release() {
        OM_uint32 minor = 0;
        if (context != GSS_C_NO_CONTEXT) gssapi().delete_sec_context(&minor, &context, GSS_C_NO_BUFFER);
        if (target != GSS_C_NO_NAME) gssapi().release_name(&minor, &target);
        if (credential != GSS_C_NO_CREDENTIAL) gssapi().release_cred(&minor, &credential);
        if (kerberos != GSS_C_NO_CREDENTIAL) gssapi().release_cred(&minor, &kerberos);
        if (memoryCache != nullptr) gssapi().cc_destroy(krb, memoryCache);
        memoryCache = nullptr;
        if (krb != nullptr) gssapi().free_context(krb);
        krb = nullptr;
        bindings.clear();
        started = false;
        over = false;
    }

    SecStatus fail(SecStatus status, std::string text) {
        detail = std::move(text);
        release();
        return status;
    }
    SecStatus fail(std::string_view call, OM_uint32 major, OM_uint32 minor, Minor kind) {
        return fail(mapFailure(major, minor, Call::Acquire, kind), failureText(call, major, minor));
    }

    SecStatus acquire(AuthPackage wanted, const std::optional<AuthIdentity>& identity);
    SecStatus acquireNegotiate(const std::optional<AuthIdentity>& identity);
    SecStatus acquireNtlm(const std::optional<AuthIdentity>& identity);
    std::optional<AuthStep> kerberosPreflight();
    AuthStep initialize(std::string_view targetText, std::span<const std::uint8_t> input,
                        std::span<const std::uint8_t> channelBindings);
};

SecStatus AuthClient::State::acquire(AuthPackage wanted, const std::optional<AuthIdentity>& identity) {
    release();
    detail.clear();
    package = wanted;
    std::string problem;
    if (GssapiLibrary::get(&problem) == nullptr) return fail(SEC_E_SECPKG_NOT_FOUND, std::move(problem));
    if (wanted == AuthPackage::Ntlm) {
        if (!mechanismInstalled(gNtlm)) {
            return fail(SEC_E_SECPKG_NOT_FOUND, "the GSSAPI NTLM mechanism (gss-ntlmssp) is not installed");
        }
        return acquireNtlm(identity);
    }
    if (!mechanismInstalled(gSpnego) || !mechanismInstalled(gKerberos)) {
        return fail(SEC_E_SECPKG_NOT_FOUND, "the GSSAPI SPNEGO and Kerberos mechanisms are not installed");
    }
    return acquireNegotiate(identity);
}

namespace {

// gss-ntlmssp (Debian's gss-ntlmssp 1.2, gssntlmssp.so, the NTLM mechanism
// behind GSSAPI) fetches an EVP_MD with EVP_MD_fetch from the OpenSSL
// library context it keeps for itself, to hash the password while it builds
// an NTLM credential (with a password, or the default one from
// NTLM_USER_FILE), and never frees it: 240 bytes and some 6 KB of provider
// records under them, per credential. Five GSSAPI calls that
// acquire an NTLM credential with a password and release it leak the same.
// LeakSanitizer's suppressions cannot name the library, since the stacks it
// keeps stop in libcrypto, which has no frame pointers; so in a sanitizer
// build its allocations during the acquisition are left out of the check.
struct ThirdPartyLeaksIgnored {
#if defined(__SANITIZE_ADDRESS__)
    ThirdPartyLeaksIgnored() { __lsan_disable(); }
    ~ThirdPartyLeaksIgnored() { __lsan_enable(); }
#else
    // Not trivial, so that a guard that does nothing is not taken for an
    // unused variable.
    ThirdPartyLeaksIgnored() {}
    ~ThirdPartyLeaksIgnored() {}
#endif
    ThirdPartyLeaksIgnored(const ThirdPartyLeaksIgnored&) = delete;
    ThirdPartyLeaksIgnored& operator=(const ThirdPartyLeaksIgnored&) = delete;
};

}  // namespace

SecStatus AuthClient::State::acquireNtlm(const std::optional<AuthIdentity>& identity) {
    gss_OID_set_desc ntlmOnly{1, &gNtlm};
    OM_uint32 minor = 0;
    OM_uint32 major = 0;
    if (!identity || identity->user.empty()) {
        {
            // The default credential's password, from NTLM_USER_FILE, is hashed the same way.
            const ThirdPartyLeaksIgnored gssNtlmsspKeepsItsDigest;
            major = gssapi().acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &ntlmOnly, GSS_C_INITIATE,
                                          &credential, nullptr, nullptr);
        }
        if (GSS_ERROR(major)) return fail("gss_acquire_cred", major, minor, Minor::Opaque);
        return SEC_E_OK;
    }
    const std::string nameText = ntlmUserName(*identity);
    gss_buffer_desc nameBuffer = bufferOf(nameText);
    gss_name_t name = GSS_C_NO_NAME;
    major = gssapi().import_name(&minor, &nameBuffer, &gUserName, &name);
    if (GSS_ERROR(major)) return fail("gss_import_name", major, minor, Minor::Opaque);
    gss_buffer_desc password = bufferOf(identity->password);
    {
        const ThirdPartyLeaksIgnored gssNtlmsspKeepsItsDigest;
        major = gssapi().acquire_cred_with_password(&minor, name, &password, GSS_C_INDEFINITE, &ntlmOnly,
                                                    GSS_C_INITIATE, &credential, nullptr, nullptr);
    }
    OM_uint32 ignored = 0;
    gssapi().release_name(&ignored, &name);
    if (GSS_ERROR(major)) return fail("gss_acquire_cred_with_password", major, minor, Minor::Opaque);
    return SEC_E_OK;
}

SecStatus AuthClient::State::acquireNegotiate(const std::optional<AuthIdentity>& identity) {
    gss_OID_set_desc kerberosOnly{1, &gKerberos};
    gss_OID_set_desc spnegoOnly{1, &gSpnego};
    OM_uint32 minor = 0;
    OM_uint32 major = 0;
    OM_uint32 ignored = 0;
    if (!identity || identity->user.empty()) {
        // Kerberos first, alone: SPNEGO would also take NTLM's default
        // credentials and hide that there is no Kerberos ticket.
        major = gssapi().acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &kerberosOnly, GSS_C_INITIATE, &kerberos,
                                      nullptr, nullptr);
        if (GSS_ERROR(major)) return fail("gss_acquire_cred", major, minor, Minor::Kerberos);
        major = gssapi().acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &spnegoOnly, GSS_C_INITIATE, &credential,
                                      nullptr, nullptr);
        if (GSS_ERROR(major)) return fail("gss_acquire_cred", major, minor, Minor::Opaque);
    } else {
        const std::string principal = kerberosPrincipal(*identity);
        gss_buffer_desc nameBuffer = bufferOf(principal);
        gss_name_t name = GSS_C_NO_NAME;
        major = gssapi().import_name(&minor, &nameBuffer, &gKerberosPrincipal, &name);
        if (GSS_ERROR(major)) return fail("gss_import_name", major, minor, Minor::Kerberos);
        // One request to the KDC for the ticket-granting ticket, by Kerberos
        // itself so that a refusal says why and a wrong password counts once.
        gss_cred_id_t withPassword = GSS_C_NO_CREDENTIAL;
        gss_buffer_desc password = bufferOf(identity->password);
        major = gssapi().acquire_cred_with_password(&minor, name, &password, GSS_C_INDEFINITE, &kerberosOnly,
                                                    GSS_C_INITIATE, &withPassword, nullptr, nullptr);
        gssapi().release_name(&ignored, &name);
        if (GSS_ERROR(major)) return fail("gss_acquire_cred_with_password", major, minor, Minor::Kerberos);

        // Its tickets go into a memory cache that SPNEGO then reads.
        char* cacheName = nullptr;
        krb5_error_code error = gssapi().init_context(&krb);
        if (error == 0) error = gssapi().cc_new_unique(krb, "MEMORY", nullptr, &memoryCache);
        if (error == 0) error = gssapi().cc_get_full_name(krb, memoryCache, &cacheName);
        if (error != 0) {
            gssapi().release_cred(&ignored, &withPassword);
            const char* message = gssapi().get_error_message(krb, error);
            std::string text = "no memory credential cache: " + std::string(message);
            gssapi().free_error_message(krb, message);
            return fail(error == ENOMEM ? SEC_E_INSUFFICIENT_MEMORY : SEC_E_INTERNAL_ERROR, std::move(text));
        }
        gss_key_value_element_desc element{"ccache", cacheName};
        gss_key_value_set_desc store{1, &element};
        major =
            gssapi().store_cred_into(&minor, withPassword, GSS_C_INITIATE, &gKerberos, 1, 0, &store, nullptr, nullptr);
        gssapi().release_cred(&ignored, &withPassword);
        if (!GSS_ERROR(major)) {
            major = gssapi().acquire_cred_from(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &kerberosOnly, GSS_C_INITIATE,
                                               &store, &kerberos, nullptr, nullptr);
        }
        if (!GSS_ERROR(major)) {
            major = gssapi().acquire_cred_from(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &spnegoOnly, GSS_C_INITIATE,
                                               &store, &credential, nullptr, nullptr);
        }
        gssapi().free_string(krb, cacheName);
        if (GSS_ERROR(major)) return fail("gss_acquire_cred_from", major, minor, Minor::Opaque);
    }
    // Only Kerberos goes inside SPNEGO, whatever else is installed.
    major = gssapi().set_neg_mechs(&minor, credential, &kerberosOnly);
    if (GSS_ERROR(major)) return fail(SEC_E_INTERNAL_ERROR, failureText("gss_set_neg_mechs", major, minor));
    return SEC_E_OK;
}

// Negotiate's first step: Kerberos on its own gets the service ticket (into
// the cache SPNEGO reads next, so the KDC is asked once) and, when that
// fails, says why. Its token is thrown away.
std::optional<AuthStep> AuthClient::State::kerberosPreflight() {
    OM_uint32 minor = 0;
    OM_uint32 ignored = 0;
    gss_ctx_id_t probe = GSS_C_NO_CONTEXT;
    gss_buffer_desc output = GSS_C_EMPTY_BUFFER;
    const OM_uint32 major =
        gssapi().init_sec_context(&minor, kerberos, &probe, target, &gKerberos, 0, GSS_C_INDEFINITE,
                                  GSS_C_NO_CHANNEL_BINDINGS, GSS_C_NO_BUFFER, nullptr, &output, nullptr, nullptr);
    gssapi().release_buffer(&ignored, &output);
    if (probe != GSS_C_NO_CONTEXT) gssapi().delete_sec_context(&ignored, &probe, GSS_C_NO_BUFFER);
    if (!GSS_ERROR(major)) return std::nullopt;
    return AuthStep{mapFailure(major, minor, Call::Initialize, Minor::Kerberos),
                    {},
                    failureText("gss_init_sec_context (Kerberos)", major, minor)};
}

AuthStep AuthClient::State::initialize(std::string_view targetText, std::span<const std::uint8_t> input,
                                       std::span<const std::uint8_t> channelBindings) {
    if (credential == GSS_C_NO_CREDENTIAL || over) {
        return {SEC_E_INVALID_HANDLE, {}, over ? "the exchange is over" : "no credential was acquired"};
    }
    auto finish = [this](AuthStep step) {
        over = true;
        return step;
    };
    OM_uint32 major = 0;
    OM_uint32 minor = 0;
    if (!started) {
        started = true;
        const ServiceName service = serviceNameFor(package, targetText);
        gss_buffer_desc nameBuffer = bufferOf(std::string_view(service.text));
        major = gssapi().import_name(&minor, &nameBuffer,
                                     service.kerberosPrincipal ? &gKerberosPrincipal : &gHostBasedService, &target);
        if (GSS_ERROR(major)) {
            return finish({mapFailure(major, minor, Call::Initialize, Minor::Opaque),
                           {},
                           failureText("gss_import_name", major, minor)});
        }
        bindings.assign(channelBindings.begin(), channelBindings.end());
        if (kerberos != GSS_C_NO_CREDENTIAL) {
            if (auto failed = kerberosPreflight()) return finish(std::move(*failed));
        }
    }

    gss_channel_bindings_struct bindingStruct{};
    bindingStruct.application_data = bufferOf(std::span<const std::uint8_t>(bindings));
    gss_buffer_desc inputBuffer = bufferOf(input);
    gss_buffer_desc output = GSS_C_EMPTY_BUFFER;
    gss_OID_desc mechanism = package == AuthPackage::Negotiate ? gSpnego : gNtlm;
    // Mutual authentication: the server's last Negotiate token, when it sends
    // one, proves it holds the service key.
    const OM_uint32 flags = GSS_C_MUTUAL_FLAG | GSS_C_REPLAY_FLAG | GSS_C_SEQUENCE_FLAG;
    major =
        gssapi().init_sec_context(&minor, credential, &context, target, &mechanism, flags, GSS_C_INDEFINITE,
                                  bindings.empty() ? GSS_C_NO_CHANNEL_BINDINGS : &bindingStruct,
                                  input.empty() ? GSS_C_NO_BUFFER : &inputBuffer, nullptr, &output, nullptr, nullptr);
    AuthStep step;
    if (output.length != 0 && !GSS_ERROR(major)) {
        const auto* bytes = static_cast<const std::uint8_t*>(output.value);
        step.token.assign(bytes, bytes + output.length);
    }
    OM_uint32 ignored = 0;
    gssapi().release_buffer(&ignored, &output);
    if (GSS_ERROR(major)) {
        step.status = mapFailure(major, minor, Call::Initialize, Minor::Opaque);
        step.detail = failureText("gss_init_sec_context", major, minor);
        return finish(std::move(step));
    }
    if (major & GSS_S_CONTINUE_NEEDED) {
        step.status = SEC_I_CONTINUE_NEEDED;
        return step;
    }
    step.status = SEC_E_OK;
    return finish(std::move(step));
}

AuthClient::AuthClient() : state_(std::make_unique<State>()) {}
AuthClient::~AuthClient() = default;
AuthClient::AuthClient(AuthClient&&) noexcept = default;
AuthClient& AuthClient::operator=(AuthClient&&) noexcept = default;

// A moved-from client starts over as a new one.
AuthClient::State& AuthClient::state() {
    if (!state_) state_ = std::make_unique<State>();
    return *state_;
}

SecStatus AuthClient::acquire(AuthPackage package, const std::optional<AuthIdentity>& identity) {
    return state().acquire(package, identity);
}

SecStatus AuthClient::acquire(std::string_view packageName, const std::optional<AuthIdentity>& identity) {
    if (auto package = authPackageFromName(packageName)) return acquire(*package, identity);
    return state().fail(SEC_E_SECPKG_NOT_FOUND, "no security package is called \"" + std::string(packageName) + "\"");
}

const std::string& AuthClient::detail() const {
    static const std::string none;
    return state_ ? state_->detail : none;
}

AuthStep AuthClient::initialize(std::string_view target, std::span<const std::uint8_t> input,
                                std::span<const std::uint8_t> channelBindings) {
    return state().initialize(target, input, channelBindings);
}

std::vector<std::uint8_t> tlsServerEndPointBinding(std::span<const std::uint8_t> serverCertificateDer) {
    const unsigned char* cursor = serverCertificateDer.data();
    X509* certificate = d2i_X509(nullptr, &cursor, static_cast<long>(serverCertificateDer.size()));
    if (certificate == nullptr) return {};
    // The hash covers the certificate as it was encoded, not bytes after it.
    const auto encodedSize = static_cast<std::size_t>(cursor - serverCertificateDer.data());
    int digestNid = NID_undef;
    const bool known = X509_get_signature_info(certificate, &digestNid, nullptr, nullptr, nullptr) == 1;
    X509_free(certificate);
    if (!known || digestNid == NID_undef) return {};
    if (digestNid == NID_md5 || digestNid == NID_sha1) digestNid = NID_sha256;
    const EVP_MD* digest = EVP_get_digestbynid(digestNid);
    if (digest == nullptr) return {};

    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int hashSize = 0;
    if (EVP_Digest(serverCertificateDer.data(), encodedSize, hash, &hashSize, digest, nullptr) != 1) return {};
    constexpr std::string_view prefix = "tls-server-end-point:";
    std::vector<std::uint8_t> binding(prefix.begin(), prefix.end());
    binding.insert(binding.end(), hash, hash + hashSize);
    return binding;
}

}  // namespace platform::security
