// Where the next TLS record in a run of received bytes ends. The provider
// hands OpenSSL whole records only, so that what it has not taken stays with
// the caller, whose pending input it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace platform::security {

inline constexpr std::size_t kRecordHeaderSize = 5;
inline constexpr std::size_t kMaxMessageSize = 16384;
// The largest record body TLS allows: 2^14 bytes of plaintext plus 2048 of
// expansion (TLS 1.2; TLS 1.3 allows less).
inline constexpr std::size_t kMaxRecordBody = kMaxMessageSize + 2048;

inline constexpr std::uint8_t kRecordChangeCipherSpec = 20;
inline constexpr std::uint8_t kRecordAlert = 21;
inline constexpr std::uint8_t kRecordHandshake = 22;
inline constexpr std::uint8_t kRecordApplicationData = 23;

struct RecordScan {
    enum class Kind { Complete, Partial, Malformed };
    Kind kind = Kind::Partial;
    std::uint8_t type = 0;
    std::size_t length = 0;   // the whole record, header included (Complete)
    std::size_t missing = 0;  // bytes still to come (Partial)
};

// A header that no TLS peer would send (unknown content type, a body longer
// than TLS allows) is Malformed at once: waiting for more bytes would wait
// for up to 64 KiB of something that is not TLS.
inline RecordScan scanRecord(std::span<const std::uint8_t> bytes) {
    RecordScan scan;
    if (bytes.size() < kRecordHeaderSize) {
        if (!bytes.empty() && (bytes[0] < kRecordChangeCipherSpec || bytes[0] > 24)) {
            scan.kind = RecordScan::Kind::Malformed;
            return scan;
        }
        scan.missing = kRecordHeaderSize - bytes.size();
        return scan;
    }
    scan.type = bytes[0];
    std::size_t body = (static_cast<std::size_t>(bytes[3]) << 8) | bytes[4];
    if (scan.type < kRecordChangeCipherSpec || scan.type > 24 || bytes[1] != 3 || body > kMaxRecordBody) {
        scan.kind = RecordScan::Kind::Malformed;
        return scan;
    }
    if (bytes.size() < kRecordHeaderSize + body) {
        scan.missing = kRecordHeaderSize + body - bytes.size();
        return scan;
    }
    scan.kind = RecordScan::Kind::Complete;
    scan.length = kRecordHeaderSize + body;
    return scan;
}

}  // namespace platform::security
