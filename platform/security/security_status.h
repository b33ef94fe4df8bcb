// Status codes of the security provider and of the certificate chain policy,
// with the values the platform gives them. The TLS channel above compares
// against these numbers and prints them, so they must be the platform's own.
#pragma once

#include <cstdint>

namespace platform::security {

// A provider status: 0 or an informational code means the call did its job,
// a value with the top bit set is a failure.
using SecStatus = std::uint32_t;

inline constexpr SecStatus SEC_E_OK = 0x00000000;
inline constexpr SecStatus SEC_I_CONTINUE_NEEDED = 0x00090312;
inline constexpr SecStatus SEC_I_CONTEXT_EXPIRED = 0x00090317;
inline constexpr SecStatus SEC_I_INCOMPLETE_CREDENTIALS = 0x00090320;
inline constexpr SecStatus SEC_I_RENEGOTIATE = 0x00090321;

inline constexpr SecStatus SEC_E_INVALID_HANDLE = 0x80090301;
inline constexpr SecStatus SEC_E_UNSUPPORTED_FUNCTION = 0x80090302;
inline constexpr SecStatus SEC_E_INTERNAL_ERROR = 0x80090304;
inline constexpr SecStatus SEC_E_INVALID_TOKEN = 0x80090308;
inline constexpr SecStatus SEC_E_UNKNOWN_CREDENTIALS = 0x8009030D;
inline constexpr SecStatus SEC_E_NO_CREDENTIALS = 0x8009030E;
inline constexpr SecStatus SEC_E_INCOMPLETE_MESSAGE = 0x80090318;
inline constexpr SecStatus SEC_E_ILLEGAL_MESSAGE = 0x80090326;
inline constexpr SecStatus SEC_E_CERT_UNKNOWN = 0x80090327;
inline constexpr SecStatus SEC_E_ENCRYPT_FAILURE = 0x80090329;
inline constexpr SecStatus SEC_E_DECRYPT_FAILURE = 0x80090330;
inline constexpr SecStatus SEC_E_ALGORITHM_MISMATCH = 0x80090331;
inline constexpr SecStatus SEC_E_APPLICATION_PROTOCOL_MISMATCH = 0x80090367;

constexpr bool secFailed(SecStatus status) { return (status & 0x80000000u) != 0; }

// Results of the SSL chain policy. 0 is a trusted chain that fits the name.
using PolicyStatus = std::uint32_t;

inline constexpr PolicyStatus kPolicyOk = 0;
inline constexpr PolicyStatus CRYPT_E_REVOKED = 0x80092010;
inline constexpr PolicyStatus TRUST_E_CERT_SIGNATURE = 0x80096004;
inline constexpr PolicyStatus TRUST_E_BASIC_CONSTRAINTS = 0x80096019;
inline constexpr PolicyStatus CERT_E_EXPIRED = 0x800B0101;
inline constexpr PolicyStatus CERT_E_CRITICAL = 0x800B0105;
inline constexpr PolicyStatus CERT_E_PURPOSE = 0x800B0106;
inline constexpr PolicyStatus CERT_E_UNTRUSTEDROOT = 0x800B0109;
inline constexpr PolicyStatus CERT_E_CHAINING = 0x800B010A;
inline constexpr PolicyStatus CERT_E_CN_NO_MATCH = 0x800B010F;
inline constexpr PolicyStatus CERT_E_WRONG_USAGE = 0x800B0110;
// Not a policy result: the leaf could not be decoded at all, so no chain was
// built. The channel reports that as its own failure to get a chain.
inline constexpr PolicyStatus CRYPT_E_ASN1_BADTAG = 0x8009310B;

}  // namespace platform::security
