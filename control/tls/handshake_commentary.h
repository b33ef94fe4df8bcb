// What the handshake commentary reads from the first handshake bytes of each
// side: the suites the client offers and the version and suite the server
// picks. Both hellos put the session id length at offset 43 (record header 5,
// handshake header 4, version 2, random 32) with the suites right behind the
// session id, so one layout serves the client's token and the server's record.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace morvane::tls {

inline constexpr std::string_view kRecordTooLargeStatus =
    "Error in response record: The server returned a record larger than the maximum supported size (16K).";

// The largest record length the channel accepts without complaint.
inline constexpr std::uint16_t kMaxRecordLength = 16383;

// "Cipher Suites:\r\n    " followed by the offered suites' names joined by
// ";\r\n    ". Nothing for a token shorter than 46 bytes or than the session
// id and suite list it announces; an odd last byte of the list is ignored.
std::optional<std::string> offeredCipherSuitesText(std::span<const std::uint8_t> clientToken);

// "SSL3.0", "TLS1.0", "TLS1.1", "TLS1.2", or "Unknown (" decimal ")".
std::string protocolVersionName(std::uint16_t version);

struct ServerChoice {
    std::string version;      // "Selected TLS Version: TLS1.2"
    std::string cipherSuite;  // "Selected Cipher Suite: TLS_... (0xc02f)"
};

// The version from the record header and the suite behind the session id.
// Nothing for a record shorter than 46 bytes or than its session id needs.
std::optional<ServerChoice> serverChoice(std::span<const std::uint8_t> serverRecord);

// The record header announces more than kMaxRecordLength bytes; needs only
// the 5-byte header.
bool announcesOversizedRecord(std::span<const std::uint8_t> serverRecord);

// A handshake record (type 22) whose first message is a ServerHello (type 2):
// what the channel waits for before it reports the server's choice.
bool startsWithServerHello(std::span<const std::uint8_t> bytes);

}  // namespace morvane::tls
