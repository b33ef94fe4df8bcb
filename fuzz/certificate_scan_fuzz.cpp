// Server bytes through the early certificate scan, raw and as a handshake
// stream cut into records of every size: a found certificate lies within
// what was sent, more bytes behind it do not change it, and the way the
// stream is cut into records makes no difference.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "control/tls/certificate_scan.h"

using namespace morvane::tls;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

std::vector<std::uint8_t> asRecords(std::span<const std::uint8_t> stream, std::size_t piece) {
    std::vector<std::uint8_t> out;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        const auto part = stream.subspan(at, std::min(piece, stream.size() - at));
        out.insert(out.end(),
                   {22, 3, 3, static_cast<std::uint8_t>(part.size() >> 8), static_cast<std::uint8_t>(part.size())});
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

bool same(const CertificateScan& a, const CertificateScan& b) {
    return a.outcome == b.outcome && a.certificate == b.certificate;
}

void checkShape(const CertificateScan& scan, std::size_t inputSize) {
    if (scan.outcome != CertificateScanOutcome::kFound) {
        check(scan.certificate.empty());
        return;
    }
    // Record header 5, message header 4, list and entry lengths 3 each.
    check(!scan.certificate.empty() && scan.certificate.size() + 15 <= inputSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    const CertificateScan raw = scanForServerCertificate(input);
    checkShape(raw, size);
    if (raw.outcome == CertificateScanOutcome::kFound) {
        std::vector<std::uint8_t> more(data, data + size);
        more.insert(more.end(), {22, 3, 3, 0x40, 0x00, 11});
        check(same(scanForServerCertificate(more), raw));
    }

    if (size < 1) return 0;
    const auto stream = input.subspan(1);
    const std::size_t piece = data[0] % 64 + 1;
    const auto cut = asRecords(stream, piece);
    const auto whole = asRecords(stream, 16384);
    const CertificateScan fromCut = scanForServerCertificate(cut);
    const CertificateScan fromWhole = scanForServerCertificate(whole);
    checkShape(fromCut, cut.size());
    check(same(fromCut, fromWhole));
    check(fromWhole.outcome != CertificateScanOutcome::kMalformed || !stream.empty());
    if (fromWhole.outcome == CertificateScanOutcome::kFound) {
        const auto& der = fromWhole.certificate;
        check(std::search(stream.begin(), stream.end(), der.begin(), der.end()) != stream.end());
    }
    return 0;
}
