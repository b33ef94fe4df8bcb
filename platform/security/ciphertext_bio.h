// The two ends through which OpenSSL reads the server's records and writes
// ours, in place of its memory BIOs. A memory BIO copies every byte in and
// out again and zeroes each stretch it grows by; these copy once. Records
// from the server are lent for the length of one call into the context, and
// ours are written straight into the vector that goes to the socket.
#pragma once

#include <openssl/bio.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace platform::security {

class CiphertextInput {
public:
    // `bytes` must stay valid until keepUnread().
    void lend(std::span<const std::uint8_t> bytes);
    // Copies what OpenSSL has not read of lent bytes, so that the caller's
    // buffer can change. (OpenSSL reads each whole record it is given, so
    // this normally copies nothing.)
    void keepUnread();
    std::size_t read(std::uint8_t* out, std::size_t size);
    std::size_t pending() const { return kept_.size() - keptRead_ + lent_.size(); }

private:
    std::vector<std::uint8_t> kept_;
    std::size_t keptRead_ = 0;
    std::span<const std::uint8_t> lent_;
};

// BIOs over the two ends; neither owns what it points at. An empty input
// reads as "nothing yet" (retry), never as the end of the stream.
BIO* newInputBio(CiphertextInput& input);
BIO* newOutputBio(std::vector<std::uint8_t>& output);

}  // namespace platform::security
