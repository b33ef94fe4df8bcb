#include "control/tls/channel_texts.h"

#include <array>

#include "control/engine/ascii.h"
#include "control/tls/hex_text.h"

namespace morvane::tls {
namespace {

constexpr std::array<AlgorithmName, 50> kAlgorithmNames{{
    {"CALG_3DES", kCalg3Des},
    {"CALG_3DES_112", kCalg3Des112},
    {"CALG_AES", kCalgAes},
    {"CALG_AES_128", kCalgAes128},
    {"CALG_AES_192", kCalgAes192},
    {"CALG_AES_256", kCalgAes256},
    {"CALG_AGREEDKEY_ANY", kCalgAgreedKeyAny},
    {"CALG_CYLINK_MEK", kCalgCylinkMek},
    {"CALG_DES", kCalgDes},
    {"CALG_DESX", kCalgDesx},
    {"CALG_DH_EPHEM", kCalgDhEphem},
    {"CALG_DH_SF", kCalgDhSf},
    {"CALG_DSS_SIGN", kCalgDssSign},
    {"CALG_ECDH", kCalgEcdh},
    {"CALG_ECDH_EPHEM", kCalgEcdhEphem},
    {"CALG_ECDSA", kCalgEcdsa},
    {"CALG_ECMQV", kCalgEcmqv},
    {"CALG_HASH_REPLACE_OWF", kCalgHashReplaceOwf},
    {"CALG_HUGHES_MD5", kCalgHughesMd5},
    {"CALG_HMAC", kCalgHmac},
    {"CALG_KEA_KEYX", kCalgKeaKeyx},
    {"CALG_MAC", kCalgMac},
    {"CALG_MD2", kCalgMd2},
    {"CALG_MD4", kCalgMd4},
    {"CALG_MD5", kCalgMd5},
    {"CALG_NO_SIGN", kCalgNoSign},
    {"CALG_OID_INFO_CNG_ONLY", kCalgOidInfoCngOnly},
    {"CALG_OID_INFO_PARAMETERS", kCalgOidInfoParameters},
    {"CALG_PCT1_MASTER", kCalgPct1Master},
    {"CALG_RC2", kCalgRc2},
    {"CALG_RC4", kCalgRc4},
    {"CALG_RC5", kCalgRc5},
    {"CALG_RSA_KEYX", kCalgRsaKeyx},
    {"CALG_RSA_SIGN", kCalgRsaSign},
    {"CALG_SCHANNEL_ENC_KEY", kCalgSchannelEncKey},
    {"CALG_SCHANNEL_MAC_KEY", kCalgSchannelMacKey},
    {"CALG_SCHANNEL_MASTER_HASH", kCalgSchannelMasterHash},
    {"CALG_SEAL", kCalgSeal},
    {"CALG_SHA", kCalgSha1},
    {"CALG_SHA1", kCalgSha1},
    {"CALG_SHA_256", kCalgSha256},
    {"CALG_SHA_384", kCalgSha384},
    {"CALG_SHA_512", kCalgSha512},
    {"CALG_SKIPJACK", kCalgSkipjack},
    {"CALG_SSL2_MASTER", kCalgSsl2Master},
    {"CALG_SSL3_MASTER", kCalgSsl3Master},
    {"CALG_SSL3_SHAMD5", kCalgSsl3Shamd5},
    {"CALG_TEK", kCalgTek},
    {"CALG_TLS1_MASTER", kCalgTls1Master},
    {"CALG_TLS1PRF", kCalgTls1Prf},
}};

char asciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiUpper(a[i]) != asciiUpper(b[i])) return false;
    }
    return true;
}

// Calls `visit` with each piece of `text` between `separator`s, empty ones
// included.
template <typename Visit>
void forEachItem(std::string_view text, char separator, Visit visit) {
    while (true) {
        const std::size_t end = text.find(separator);
        visit(text.substr(0, end));
        if (end == std::string_view::npos) return;
        text.remove_prefix(end + 1);
    }
}

std::string_view protocolText(std::uint32_t protocol) {
    if (protocol & kProtocolPct1) return "Protocol: PCT1 ";
    if (protocol & kProtocolSsl2) return "Protocol: SSL2 ";
    if (protocol & kProtocolSsl3) return "Protocol: SSL3 ";
    if (protocol & kProtocolTls10) return "Protocol: TLS1 ";
    if (protocol & kProtocolTls11) return "Protocol: TLS1.1 ";
    if (protocol & kProtocolTls12) return "Protocol: TLS1.2 ";
    return {};
}

std::string_view cipherText(std::uint32_t algorithm) {
    switch (algorithm) {
        case kCalgDes:
        case kCalgCylinkMek: return "Cipher: DES ";
        case kCalgRc2: return "Cipher: RC2 ";
        case kCalg3Des: return "Cipher: Triple DES ";
        case kCalgSkipjack: return "Cipher: Skipjack ";
        case kCalgAes:
        case kCalgAes128:
        case kCalgAes192:
        case kCalgAes256: return "Cipher: AES ";
        case kCalgRc4: return "Cipher: RC4 ";
        default: return {};
    }
}

struct HashKind {
    std::string_view text;
    std::int32_t bits;
};

HashKind hashKind(std::uint32_t algorithm) {
    switch (algorithm) {
        case kCalgMd5: return {"Hash: MD5 ", 128};
        case kCalgSha1: return {"Hash: SHA ", 160};
        case kCalgSha256: return {"Hash: SHA256 ", 256};
        case kCalgSha384: return {"Hash: SHA384 ", 384};
        case kCalgSha512: return {"Hash: SHA512 ", 512};
        default: return {{}, 0};
    }
}

std::string_view exchangeText(std::uint32_t algorithm) {
    switch (algorithm) {
        case kCalgRsaSign:
        case kCalgRsaKeyx: return "Key exchange: RSA ";
        case kCalgDhEphem: return "Key exchange: DH Ephemeral ";
        case kCalgKeaKeyx: return "Key exchange: KEA ";
        case kCalgEcdhEphem: return "Key exchange: ECDH Ephemeral RSA ";
        default: return {};
    }
}

void appendLittleEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

std::string enablingVersionsText(std::uint32_t protocols) {
    std::string text = "Enabling TLS versions: ";
    if (protocols & kProtocolTls13) text += "TLS1.3 ";
    if (protocols & kProtocolTls12) text += "TLS1.2 ";
    if (protocols & kProtocolTls11) text += "TLS1.1 ";
    if (protocols & kProtocolTls10) text += "TLS1.0 ";
    if (protocols & kProtocolSsl3) text += "SSL3.0 ";
    if (protocols & kProtocolSsl2) text += "SSL2.0 ";
    if (protocols > kProtocolUniAbove) text += "UNI ";
    if (protocols & kProtocolPct1) text += "PCT1 ";
    return text;
}

std::span<const AlgorithmName> algorithmNames() { return kAlgorithmNames; }

std::vector<std::uint32_t> parseAlgorithmList(std::string_view text) {
    std::vector<std::uint32_t> ids;
    forEachItem(text, ';', [&](std::string_view item) {
        if (ids.size() >= kMaxAlgorithms) return;
        item = trimBlanks(item);
        for (const AlgorithmName& known : kAlgorithmNames) {
            if (equalsIgnoringCase(item, known.name)) {
                ids.push_back(known.id);
                return;
            }
        }
    });
    return ids;
}

std::string negotiatedParametersText(const ConnectionInfo& info) {
    std::string text(kNegotiatedPrefix);

    const std::string_view protocol = protocolText(info.protocol);
    text += protocol.empty() ? "Protocol: 0x" + hexDigits(info.protocol) + " " : std::string(protocol);

    const std::string_view cipher = cipherText(info.cipherAlgorithm);
    text += cipher.empty() ? "Cipher: 0x" + hexDigits(info.cipherAlgorithm) + " " : std::string(cipher);
    text += "Cipher strength: " + std::to_string(info.cipherStrength) + " ";

    // An unknown hash or exchange prints with the cipher's wording; the
    // control has always shown it so and logs are read against it.
    const HashKind hash = hashKind(info.hashAlgorithm);
    text += hash.text.empty() ? "Cipher: 0x" + hexDigits(info.hashAlgorithm) + " " : std::string(hash.text);
    // Providers report 0 for the strength of a hash they do not truncate.
    const std::int32_t hashStrength = info.hashStrength == 0 ? hash.bits : info.hashStrength;
    text += "Hash strength: " + std::to_string(hashStrength) + " ";

    const std::string_view exchange = exchangeText(info.exchangeAlgorithm);
    text += exchange.empty() ? "Cipher: 0x" + hexDigits(info.exchangeAlgorithm) + " " : std::string(exchange);
    text += "Key exchange strength: " + std::to_string(info.exchangeStrength) + " ";
    return text;
}

std::vector<std::uint8_t> alpnWireList(std::string_view identifiers) {
    std::vector<std::uint8_t> list;
    forEachItem(identifiers, ',', [&](std::string_view id) {
        if (id.empty() || id.size() > 255) return;
        if (list.size() + 1 + id.size() > 0xFFFF) return;
        list.push_back(static_cast<std::uint8_t>(id.size()));
        list.insert(list.end(), id.begin(), id.end());
    });
    return list;
}

std::vector<std::uint8_t> alpnProtocolBuffer(std::string_view identifiers) {
    const std::vector<std::uint8_t> list = alpnWireList(identifiers);
    if (list.empty()) return {};
    constexpr std::uint32_t kAlpnNegotiation = 2;
    std::vector<std::uint8_t> buffer;
    buffer.reserve(10 + list.size());
    appendLittleEndian(buffer, static_cast<std::uint32_t>(4 + 2 + list.size()), 4);
    appendLittleEndian(buffer, kAlpnNegotiation, 4);
    appendLittleEndian(buffer, static_cast<std::uint32_t>(list.size()), 2);
    buffer.insert(buffer.end(), list.begin(), list.end());
    return buffer;
}

}  // namespace morvane::tls
