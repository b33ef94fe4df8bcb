// Tokens for the HTTP "NTLM" and "Negotiate" schemes from the system's
// GSSAPI, behind the two calls the control makes of the platform's security
// provider: acquire an outbound credential, then initialize the context once
// per challenge. Negotiate is SPNEGO carrying Kerberos (MIT krb5); NTLM is the
// gss-ntlmssp mechanism. Nothing here touches the network except what the
// mechanisms do themselves (Kerberos asks its KDC for tickets).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/security/security_status.h"

namespace platform::security {

// Provider codes only the authentication packages give.
inline constexpr SecStatus SEC_E_INSUFFICIENT_MEMORY = 0x80090300;
inline constexpr SecStatus SEC_E_TARGET_UNKNOWN = 0x80090303;
inline constexpr SecStatus SEC_E_SECPKG_NOT_FOUND = 0x80090305;
inline constexpr SecStatus SEC_E_LOGON_DENIED = 0x8009030C;
inline constexpr SecStatus SEC_E_MESSAGE_ALTERED = 0x8009030F;
inline constexpr SecStatus SEC_E_NO_AUTHENTICATING_AUTHORITY = 0x80090311;
inline constexpr SecStatus SEC_E_CONTEXT_EXPIRED = 0x80090317;
inline constexpr SecStatus SEC_E_WRONG_PRINCIPAL = 0x80090322;
inline constexpr SecStatus SEC_E_TIME_SKEW = 0x80090324;
inline constexpr SecStatus SEC_E_BAD_BINDINGS = 0x80090346;

enum class AuthPackage { Ntlm, Negotiate };

// "NTLM" and "Negotiate", the names the schemes have in headers.
std::string_view authPackageName(AuthPackage package);
// The package of that name, compared without regard to case; none for any
// other name.
std::optional<AuthPackage> authPackageFromName(std::string_view name);

// An explicit identity. An empty user stands for the logged-on user's
// credentials: the Kerberos credential cache (KRB5CCNAME) for Negotiate,
// gss-ntlmssp's default credentials (NTLM_USER_FILE with NTLMUSER or USER,
// or winbind) for NTLM.
struct AuthIdentity {
    std::string user;
    std::string domain;
    std::string password;
};

// Splits a logon name as users type it into user and domain (the password is
// left empty for the caller):
// - "DOMAIN\user" -> {user, DOMAIN}, at the first backslash: the down-level
//   form, whose user part cannot hold a backslash.
// - "user@REALM" -> {user, REALM}, at the last "@": the principal form, and a
//   user part may itself hold an "@" (an e-mail style name). Splitting it
//   rather than keeping it whole loses nothing: Kerberos joins the two again
//   (see kerberosPrincipal), and NTLM wants the domain on its own.
// - anything else -> {name, ""}: Kerberos then uses the default realm and NTLM
//   its default domain.
// The backslash form wins when both appear ("DOM\a@b" is user "a@b" of DOM),
// as it does on the platform this stands in for. Nothing is trimmed or
// changed in case here.
AuthIdentity splitUserDomain(std::string_view logonName);

// The Kerberos principal an identity names: the user with any "@" in it
// escaped, then "@" and the domain in upper case (realms are the upper-case
// DNS domain, and MIT compares realm names exactly, so "alice@corp.example"
// would never match otherwise). Without a domain the user is taken as a
// principal as written, so "alice@REALM" given whole still works.
std::string kerberosPrincipal(const AuthIdentity& identity);
// The NTLM user name: "DOMAIN\user", or the user alone without a domain.
std::string ntlmUserName(const AuthIdentity& identity);

// The GSSAPI name a target (service principal) becomes.
struct ServiceName {
    std::string text;
    // True: a Kerberos principal name ("HTTP/host@REALM"); false: a
    // host-based service name ("HTTP@host").
    bool kerberosPrincipal = false;
};
// "HTTP/host" -> host-based "HTTP@host"; a bare "host" -> "HTTP@host"; with
// an "@REALM" (a KerberosSPN naming its realm) Negotiate takes it as the
// principal it is, while NTLM, which has no realms, drops the realm part.
ServiceName serviceNameFor(AuthPackage package, std::string_view target);

// The result of one initialize step: SEC_E_OK (done; the token may hold a
// last message to send), SEC_I_CONTINUE_NEEDED (send the token, feed the
// next challenge), or a failure status with GSSAPI's own words in `detail`.
struct AuthStep {
    SecStatus status = SEC_E_INTERNAL_ERROR;
    std::vector<std::uint8_t> token;
    std::string detail;
};

// One client side of one HTTP authentication exchange.
//
// Failures map to provider codes in two steps. First, where Kerberos itself
// was asked (Negotiate's credential, and the first initialize step, which
// gets the service ticket from Kerberos alone before SPNEGO wraps it), its
// own reason decides when it is one of these:
// - wrong password, expired or revoked account -> SEC_E_LOGON_DENIED
// - a user the KDC does not know, a malformed user name ->
//   SEC_E_UNKNOWN_CREDENTIALS
// - a service principal the KDC does not know -> SEC_E_TARGET_UNKNOWN
// - no KDC reachable, no such realm -> SEC_E_NO_AUTHENTICATING_AUTHORITY
// - clock skew -> SEC_E_TIME_SKEW
// - a service answering as another principal -> SEC_E_WRONG_PRINCIPAL
// - no credential cache, or no ticket in it -> SEC_E_NO_CREDENTIALS
// Otherwise the GSSAPI routine error decides:
// - GSS_S_BAD_MECH, or the mechanism not installed -> SEC_E_SECPKG_NOT_FOUND
// - GSS_S_NO_CRED, GSS_S_CREDENTIALS_EXPIRED -> SEC_E_NO_CREDENTIALS
// - GSS_S_BAD_NAME, GSS_S_BAD_NAMETYPE -> SEC_E_UNKNOWN_CREDENTIALS when
//   acquiring (the user name), SEC_E_TARGET_UNKNOWN when initializing
// - GSS_S_DEFECTIVE_CREDENTIAL -> SEC_E_UNKNOWN_CREDENTIALS
// - GSS_S_DEFECTIVE_TOKEN -> SEC_E_INVALID_TOKEN
// - GSS_S_BAD_SIG (a bad MIC) -> SEC_E_MESSAGE_ALTERED
// - GSS_S_BAD_BINDINGS -> SEC_E_BAD_BINDINGS
// - GSS_S_CONTEXT_EXPIRED -> SEC_E_CONTEXT_EXPIRED
// - GSS_S_NO_CONTEXT -> SEC_E_INVALID_HANDLE
// - GSS_S_UNAVAILABLE -> SEC_E_UNSUPPORTED_FUNCTION
// - anything else (GSS_S_FAILURE): SEC_E_INSUFFICIENT_MEMORY when the
//   mechanism ran out of memory, else SEC_E_NO_CREDENTIALS when acquiring
//   (the mechanism could not make a credential, e.g. gss-ntlmssp without a
//   user file or winbind) and SEC_E_INTERNAL_ERROR when initializing.
class AuthClient {
public:
    AuthClient();
    ~AuthClient();
    AuthClient(AuthClient&&) noexcept;
    AuthClient& operator=(AuthClient&&) noexcept;

    // AcquireCredentialsHandle. With an identity whose user is not empty, a
    // credential from that user and password (for Kerberos this asks the KDC
    // for a ticket-granting ticket now, kept in memory, never in the user's
    // cache); otherwise the logged-on user's credentials. Negotiate offers
    // Kerberos alone inside SPNEGO: an NTLM fallback the server never asked
    // for would hide why Kerberos failed. SEC_E_OK or a failure from the
    // table above; detail() then says why.
    SecStatus acquire(AuthPackage package, const std::optional<AuthIdentity>& identity);
    // The same by package name; a name that is neither package gives
    // SEC_E_SECPKG_NOT_FOUND.
    SecStatus acquire(std::string_view packageName, const std::optional<AuthIdentity>& identity);
    const std::string& detail() const;

    // InitializeSecurityContext. `input` is empty on the first call and the
    // peer's challenge token afterwards; `channelBindings`, when not empty, is
    // the application data of the channel bindings (see
    // tlsServerEndPointBinding). The target and the bindings of the first call
    // hold for the whole exchange. After SEC_E_OK or a failure the exchange is
    // over: later calls give SEC_E_INVALID_HANDLE, as do calls before a
    // successful acquire.
    AuthStep initialize(std::string_view target, std::span<const std::uint8_t> input,
                        std::span<const std::uint8_t> channelBindings = {});

private:
    struct State;
    State& state();
    std::unique_ptr<State> state_;
};

// The "tls-server-end-point" channel binding of RFC 5929 for a server
// certificate in DER: "tls-server-end-point:" followed by the hash of the
// certificate, with the hash of its signature algorithm, except that MD5 and
// SHA-1 become SHA-256. Empty when the bytes are not a certificate or its
// signature uses no single hash (Ed25519, Ed448): the binding is not defined
// for those, and the caller reports that it could not get one.
std::vector<std::uint8_t> tlsServerEndPointBinding(std::span<const std::uint8_t> serverCertificateDer);

}  // namespace platform::security
