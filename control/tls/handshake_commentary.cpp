#include "control/tls/handshake_commentary.h"

#include <cstddef>

#include "control/tls/cipher_suites.h"

namespace morvane::tls {
namespace {

constexpr std::size_t kSessionIdLengthOffset = 43;
constexpr std::size_t kShortestHello = 46;
constexpr std::uint8_t kHandshakeRecord = 22;
constexpr std::uint8_t kServerHelloMessage = 2;

std::uint16_t readU16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>((bytes[at] << 8) | bytes[at + 1]);
}

}  // namespace

std::optional<std::string> offeredCipherSuitesText(std::span<const std::uint8_t> clientToken) {
    if (clientToken.size() < kShortestHello) return std::nullopt;
    const std::size_t listLengthAt = kSessionIdLengthOffset + 1 + clientToken[kSessionIdLengthOffset];
    if (clientToken.size() < listLengthAt + 2) return std::nullopt;
    const std::size_t listLength = readU16(clientToken, listLengthAt);
    const std::size_t listAt = listLengthAt + 2;
    if (clientToken.size() - listAt < listLength) return std::nullopt;

    std::string text = "Cipher Suites:\r\n    ";
    for (std::size_t at = listAt; at + 2 <= listAt + listLength; at += 2) {
        if (at != listAt) text += ";\r\n    ";
        text += cipherSuiteText(readU16(clientToken, at));
    }
    return text;
}

std::string protocolVersionName(std::uint16_t version) {
    switch (version) {
        case 0x0300: return "SSL3.0";
        case 0x0301: return "TLS1.0";
        case 0x0302: return "TLS1.1";
        case 0x0303: return "TLS1.2";
        default: return "Unknown (" + std::to_string(version) + ")";
    }
}

std::optional<ServerChoice> serverChoice(std::span<const std::uint8_t> serverRecord) {
    if (serverRecord.size() < kShortestHello) return std::nullopt;
    const std::size_t suiteAt = kSessionIdLengthOffset + 1 + serverRecord[kSessionIdLengthOffset];
    if (serverRecord.size() < suiteAt + 2) return std::nullopt;
    return ServerChoice{
        "Selected TLS Version: " + protocolVersionName(readU16(serverRecord, 1)),
        "Selected Cipher Suite: " + cipherSuiteText(readU16(serverRecord, suiteAt)),
    };
}

bool announcesOversizedRecord(std::span<const std::uint8_t> serverRecord) {
    return serverRecord.size() >= 5 && readU16(serverRecord, 3) > kMaxRecordLength;
}

bool startsWithServerHello(std::span<const std::uint8_t> bytes) {
    return bytes.size() > 5 && bytes[0] == kHandshakeRecord && bytes[5] == kServerHelloMessage;
}

}  // namespace morvane::tls
