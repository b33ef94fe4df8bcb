#include "control/tls/certificate_scan.h"

#include <cstddef>

namespace morvane::tls {
namespace {

constexpr std::size_t kRecordHeaderSize = 5;
constexpr std::size_t kMessageHeaderSize = 4;
constexpr std::uint8_t kChangeCipherSpecRecord = 20;
constexpr std::uint8_t kHandshakeRecord = 22;
constexpr std::uint8_t kCertificateMessage = 11;

std::size_t readU16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return (std::size_t{bytes[at]} << 8) | bytes[at + 1];
}

std::size_t readU24(std::span<const std::uint8_t> bytes, std::size_t at) {
    return (std::size_t{bytes[at]} << 16) | (std::size_t{bytes[at + 1]} << 8) | bytes[at + 2];
}

CertificateScan malformed() { return {CertificateScanOutcome::kMalformed, {}}; }

CertificateScan takeFirstCertificate(std::span<const std::uint8_t> body) {
    if (body.size() < 6) return malformed();
    const std::size_t listLength = readU24(body, 0);
    if (listLength > body.size() - 3 || listLength < 3) return malformed();
    const std::size_t certificateLength = readU24(body, 3);
    if (certificateLength == 0 || certificateLength > listLength - 3) return malformed();
    const auto der = body.subspan(6, certificateLength);
    return {CertificateScanOutcome::kFound, {der.begin(), der.end()}};
}

}  // namespace

CertificateScan scanForServerCertificate(std::span<const std::uint8_t> serverBytes) {
    std::vector<std::uint8_t> messages;  // the joined handshake record bodies
    std::size_t nextMessage = 0;
    std::size_t at = 0;
    while (at < serverBytes.size()) {
        const auto rest = serverBytes.subspan(at);
        if (rest.size() < kRecordHeaderSize) return malformed();
        const std::uint8_t type = rest[0];
        const std::size_t length = readU16(rest, 3);
        if (rest.size() - kRecordHeaderSize < length) return malformed();
        at += kRecordHeaderSize + length;
        if (type == kChangeCipherSpecRecord) break;
        if (type != kHandshakeRecord) continue;

        const auto body = rest.subspan(kRecordHeaderSize, length);
        messages.insert(messages.end(), body.begin(), body.end());
        const std::span<const std::uint8_t> stream(messages);
        while (stream.size() - nextMessage >= kMessageHeaderSize) {
            const std::size_t messageLength = readU24(stream, nextMessage + 1);
            const std::size_t bodyAt = nextMessage + kMessageHeaderSize;
            if (stream.size() - bodyAt < messageLength) break;  // continues in a later record
            if (stream[nextMessage] == kCertificateMessage) {
                return takeFirstCertificate(stream.subspan(bodyAt, messageLength));
            }
            nextMessage = bodyAt + messageLength;
        }
    }
    return {CertificateScanOutcome::kNotFound, {}};
}

}  // namespace morvane::tls
