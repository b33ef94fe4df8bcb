// The platform's identifiers for what a TLS connection is made of: protocol
// bits of the credential and connection records, CryptoAPI algorithm
// identifiers (ALG_ID) and the ignore flags of the SSL chain policy.
#pragma once

#include <cstdint>

namespace platform::security {

using AlgId = std::uint32_t;

// Protocol bits: each version has a server bit and a client bit; a mask from
// the caller may hold either or both. Connection information reports the
// client bit of the version in use.
inline constexpr std::uint32_t SP_PROT_PCT1 = 0x00000003;
inline constexpr std::uint32_t SP_PROT_SSL2 = 0x0000000C;
inline constexpr std::uint32_t SP_PROT_SSL3 = 0x00000030;
inline constexpr std::uint32_t SP_PROT_TLS1_0 = 0x000000C0;
inline constexpr std::uint32_t SP_PROT_TLS1_1 = 0x00000300;
inline constexpr std::uint32_t SP_PROT_TLS1_2 = 0x00000C00;
inline constexpr std::uint32_t SP_PROT_TLS1_3 = 0x00003000;
inline constexpr std::uint32_t SP_PROT_SSL3_CLIENT = 0x00000020;
inline constexpr std::uint32_t SP_PROT_TLS1_0_CLIENT = 0x00000080;
inline constexpr std::uint32_t SP_PROT_TLS1_1_CLIENT = 0x00000200;
inline constexpr std::uint32_t SP_PROT_TLS1_2_CLIENT = 0x00000800;
inline constexpr std::uint32_t SP_PROT_TLS1_3_CLIENT = 0x00002000;

// Bulk ciphers.
inline constexpr AlgId CALG_DES = 0x6601;
inline constexpr AlgId CALG_RC2 = 0x6602;
inline constexpr AlgId CALG_3DES = 0x6603;
inline constexpr AlgId CALG_3DES_112 = 0x6609;
inline constexpr AlgId CALG_AES_128 = 0x660e;
inline constexpr AlgId CALG_AES_192 = 0x660f;
inline constexpr AlgId CALG_AES_256 = 0x6610;
inline constexpr AlgId CALG_AES = 0x6611;
inline constexpr AlgId CALG_RC4 = 0x6801;
// CryptoAPI never got an identifier for ChaCha20. This one sits in the
// stream-cipher range (class data-encrypt, type stream) at a number CryptoAPI
// does not use, so a caller printing it shows an unknown cipher, "0x6820".
inline constexpr AlgId CALG_TALTRIX_CHACHA20 = 0x6820;

// Hashes.
inline constexpr AlgId CALG_MD5 = 0x8003;
inline constexpr AlgId CALG_SHA1 = 0x8004;
inline constexpr AlgId CALG_SHA_256 = 0x800c;
inline constexpr AlgId CALG_SHA_384 = 0x800d;
inline constexpr AlgId CALG_SHA_512 = 0x800e;

// Key exchange and signature.
inline constexpr AlgId CALG_RSA_SIGN = 0x2400;
inline constexpr AlgId CALG_DSS_SIGN = 0x2200;
inline constexpr AlgId CALG_ECDSA = 0x2203;
inline constexpr AlgId CALG_RSA_KEYX = 0xa400;
inline constexpr AlgId CALG_DH_EPHEM = 0xaa02;
inline constexpr AlgId CALG_ECDH = 0xaa05;
inline constexpr AlgId CALG_ECDH_EPHEM = 0xae06;

// Ignore flags of the SSL chain policy, as the caller's SSLSecurityFlags
// carries them. The top bit is no ignore flag: it says "pass no server name".
inline constexpr std::uint32_t SECURITY_FLAG_IGNORE_REVOCATION = 0x00000080;
inline constexpr std::uint32_t SECURITY_FLAG_IGNORE_UNKNOWN_CA = 0x00000100;
inline constexpr std::uint32_t SECURITY_FLAG_IGNORE_WRONG_USAGE = 0x00000200;
inline constexpr std::uint32_t SECURITY_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000;
inline constexpr std::uint32_t SECURITY_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000;
inline constexpr std::uint32_t kSecurityFlagNoServerName = 0x80000000;

}  // namespace platform::security
