// Names of cipher suites for the handshake commentary (SSLStatus). The table
// is the one the control has always shown: fixed slots, registered names,
// the number printed behind each name. It deliberately stops before the
// TLS 1.3 suites, which therefore read as unknown, as they always have.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace morvane::tls {

struct CipherSuiteSlot {
    std::uint32_t number = 0;
    std::string_view name;
};

inline constexpr std::size_t kCipherSuiteSlotCount = 384;

// Every slot, the filled ones first; an empty slot has number 0 and no name.
std::span<const CipherSuiteSlot> cipherSuiteTable();

// "TLS_RSA_WITH_AES_128_CBC_SHA (0x002f)": the name and the number in four
// lower-case hex digits, six for the SSL 2.0 kinds (numbers above 0xffff).
// A number without a filled slot reads "Unknown (" decimal number ")"; that
// includes 0, which only the empty slots carry.
std::string cipherSuiteText(std::uint32_t number);

}  // namespace morvane::tls
