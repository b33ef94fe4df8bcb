// Texts and buffers the secure channel builds from its settings: the list of
// enabled protocol versions, the algorithm identifiers of SSLEnabledCipherSuites,
// the line with the negotiated parameters, and the ALPN input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::tls {

// Protocol bits of SSLEnabledProtocols and of the negotiated protocol: the
// client and server bit of each version. TLS 1.3 is our own addition.
inline constexpr std::uint32_t kProtocolPct1 = 0x3;
inline constexpr std::uint32_t kProtocolSsl2 = 0xC;
inline constexpr std::uint32_t kProtocolSsl3 = 0x30;
inline constexpr std::uint32_t kProtocolTls10 = 0xC0;
inline constexpr std::uint32_t kProtocolTls11 = 0x300;
inline constexpr std::uint32_t kProtocolTls12 = 0xC00;
inline constexpr std::uint32_t kProtocolTls13 = 0x3000;
// Anything above this is the unified-protocol pair.
inline constexpr std::uint32_t kProtocolUniAbove = 0x3FFFFFFF;

// "Enabling TLS versions: " and "TLS1.3 ", "TLS1.2 ", "TLS1.1 ", "TLS1.0 ",
// "SSL3.0 ", "SSL2.0 ", "UNI ", "PCT1 " for each group with a bit set, in
// that order.
std::string enablingVersionsText(std::uint32_t protocols);

// CryptoAPI algorithm identifiers (ALG_ID) as the platform defines them.
inline constexpr std::uint32_t kCalg3Des = 0x6603;
inline constexpr std::uint32_t kCalg3Des112 = 0x6609;
inline constexpr std::uint32_t kCalgAes = 0x6611;
inline constexpr std::uint32_t kCalgAes128 = 0x660E;
inline constexpr std::uint32_t kCalgAes192 = 0x660F;
inline constexpr std::uint32_t kCalgAes256 = 0x6610;
inline constexpr std::uint32_t kCalgAgreedKeyAny = 0xAA03;
inline constexpr std::uint32_t kCalgCylinkMek = 0x660C;
inline constexpr std::uint32_t kCalgDes = 0x6601;
inline constexpr std::uint32_t kCalgDesx = 0x6604;
inline constexpr std::uint32_t kCalgDhEphem = 0xAA02;
inline constexpr std::uint32_t kCalgDhSf = 0xAA01;
inline constexpr std::uint32_t kCalgDssSign = 0x2200;
inline constexpr std::uint32_t kCalgEcdh = 0xAA05;
inline constexpr std::uint32_t kCalgEcdhEphem = 0xAE06;
inline constexpr std::uint32_t kCalgEcdsa = 0x2203;
inline constexpr std::uint32_t kCalgEcmqv = 0xA001;
inline constexpr std::uint32_t kCalgHashReplaceOwf = 0x800B;
inline constexpr std::uint32_t kCalgHughesMd5 = 0xA003;
inline constexpr std::uint32_t kCalgHmac = 0x8009;
inline constexpr std::uint32_t kCalgKeaKeyx = 0xAA04;
inline constexpr std::uint32_t kCalgMac = 0x8005;
inline constexpr std::uint32_t kCalgMd2 = 0x8001;
inline constexpr std::uint32_t kCalgMd4 = 0x8002;
inline constexpr std::uint32_t kCalgMd5 = 0x8003;
inline constexpr std::uint32_t kCalgNoSign = 0x2000;
inline constexpr std::uint32_t kCalgOidInfoCngOnly = 0xFFFFFFFF;
inline constexpr std::uint32_t kCalgOidInfoParameters = 0xFFFFFFFE;
inline constexpr std::uint32_t kCalgPct1Master = 0x4C04;
inline constexpr std::uint32_t kCalgRc2 = 0x6602;
inline constexpr std::uint32_t kCalgRc4 = 0x6801;
inline constexpr std::uint32_t kCalgRc5 = 0x660D;
inline constexpr std::uint32_t kCalgRsaKeyx = 0xA400;
inline constexpr std::uint32_t kCalgRsaSign = 0x2400;
inline constexpr std::uint32_t kCalgSchannelEncKey = 0x4C07;
inline constexpr std::uint32_t kCalgSchannelMacKey = 0x4C03;
inline constexpr std::uint32_t kCalgSchannelMasterHash = 0x4C02;
inline constexpr std::uint32_t kCalgSeal = 0x6802;
inline constexpr std::uint32_t kCalgSha1 = 0x8004;  // also CALG_SHA
inline constexpr std::uint32_t kCalgSha256 = 0x800C;
inline constexpr std::uint32_t kCalgSha384 = 0x800D;
inline constexpr std::uint32_t kCalgSha512 = 0x800E;
inline constexpr std::uint32_t kCalgSkipjack = 0x660A;
inline constexpr std::uint32_t kCalgSsl2Master = 0x4C05;
inline constexpr std::uint32_t kCalgSsl3Master = 0x4C01;
inline constexpr std::uint32_t kCalgSsl3Shamd5 = 0x8008;
inline constexpr std::uint32_t kCalgTek = 0x660B;
inline constexpr std::uint32_t kCalgTls1Master = 0x4C06;
inline constexpr std::uint32_t kCalgTls1Prf = 0x800A;

struct AlgorithmName {
    std::string_view name;  // "CALG_3DES"
    std::uint32_t id;
};

// The names an algorithm list may use, CALG_3DES to CALG_TLS1PRF.
std::span<const AlgorithmName> algorithmNames();

// The credential record has room for this many algorithms.
inline constexpr std::size_t kMaxAlgorithms = 32;

// SSLEnabledCipherSuites: items split at ";", blanks (spaces and tabs)
// trimmed, names compared without regard to case; unknown items are
// skipped and identifiers past kMaxAlgorithms dropped. Empty means that the
// provider chooses.
std::vector<std::uint32_t> parseAlgorithmList(std::string_view text);

// The provider's connection information after the handshake.
struct ConnectionInfo {
    std::uint32_t protocol = 0;
    std::uint32_t cipherAlgorithm = 0;
    std::int32_t cipherStrength = 0;
    std::uint32_t hashAlgorithm = 0;
    std::int32_t hashStrength = 0;
    std::uint32_t exchangeAlgorithm = 0;
    std::int32_t exchangeStrength = 0;
};

inline constexpr std::string_view kNegotiatedPrefix = "Negotiated SSL parameters: ";
inline constexpr std::string_view kConnectionInfoUnavailable =
    "Negotiated SSL parameters: Connection info not available.";

// "Negotiated SSL parameters: Protocol: TLS1.2 Cipher: AES Cipher strength:
// 256 Hash: SHA384 ..." with the wording the control has always used, an
// unknown hash or exchange included (both print as "Cipher: 0x%x ").
std::string negotiatedParametersText(const ConnectionInfo& info);

// ALPNExtension split at ","; every identifier of 1 to 255 bytes, taken as
// written (no trimming), becomes a length byte and the identifier. Entries
// that would push the list past 65535 bytes are left out.
std::vector<std::uint8_t> alpnWireList(std::string_view identifiers);

// The same list as the platform's application-protocol buffer, in its
// little-endian layout: 32-bit size of what follows it (6 + list), 32-bit
// negotiation kind 2 (ALPN), 16-bit list size, the list. Empty when there is
// no identifier, in which case no ALPN input is passed at all.
std::vector<std::uint8_t> alpnProtocolBuffer(std::string_view identifiers);

}  // namespace morvane::tls
