// The early look at the server certificate (ParseSSLServerCert): the raw
// bytes the server has sent so far are walked record by record to find the
// first certificate of its Certificate message before the provider has
// finished the handshake.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace morvane::tls {

enum class CertificateScanOutcome {
    kFound,
    kNotFound,   // every record read, no complete Certificate message among them
    kMalformed,  // a record or the certificate list does not fit its length
};

struct CertificateScan {
    CertificateScanOutcome outcome = CertificateScanOutcome::kNotFound;
    std::vector<std::uint8_t> certificate;  // the DER bytes when found
};

// Records are a 5-byte header (type, version, 16-bit length) and their body;
// a length running past the data, or a header cut short, ends the scan as
// malformed unless the certificate was complete before it. The bodies of
// handshake records (type 22) are joined into one message stream, so that a
// Certificate message split over several records is found as well as one
// that sits in a single record; the stream only ever holds bytes that are
// present, whatever the lengths announce. Records of other types are passed
// over, and the scan stops at ChangeCipherSpec (type 20), behind which the
// server's handshake is encrypted. In the first Certificate message (type 11)
// the list (24-bit length) must hold a first entry (24-bit length, non-zero)
// within the message.
CertificateScan scanForServerCertificate(std::span<const std::uint8_t> serverBytes);

}  // namespace morvane::tls
