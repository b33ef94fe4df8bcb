#include "control/tls/certificate_scan.h"

#include <gtest/gtest.h>

namespace morvane::tls {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Outcome = CertificateScanOutcome;

void putU24(Bytes& out, std::size_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

Bytes message(std::uint8_t type, const Bytes& body) {
    Bytes out = {type};
    putU24(out, body.size());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes certificateMessage(const std::vector<Bytes>& certificates) {
    Bytes list;
    for (const auto& der : certificates) {
        putU24(list, der.size());
        list.insert(list.end(), der.begin(), der.end());
    }
    Bytes body;
    putU24(body, list.size());
    body.insert(body.end(), list.begin(), list.end());
    return message(11, body);
}

Bytes record(std::uint8_t type, const Bytes& body) {
    Bytes out = {type, 3, 3, static_cast<std::uint8_t>(body.size() >> 8), static_cast<std::uint8_t>(body.size())};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// The handshake stream cut into records of at most `piece` bytes.
Bytes records(const Bytes& stream, std::size_t piece) {
    Bytes out;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        const auto end = stream.begin() + static_cast<std::ptrdiff_t>(std::min(stream.size(), at + piece));
        const Bytes part = record(22, Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at), end));
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Bytes kLeaf = {0x30, 0x82, 0x01, 0x0A, 0xAA, 0xBB, 0xCC};
const Bytes kIssuer = {0x30, 0x03, 0x01, 0x02, 0x03};
const Bytes kServerHello = message(2, Bytes(38, 0x11));
const Bytes kServerHelloDone = message(14, {});
const Bytes kFlight = kServerHello + certificateMessage({kLeaf, kIssuer}) + kServerHelloDone;

TEST(CertificateScan, FindsTheFirstCertificateWhereverTheRecordsAreCut) {
    for (const std::size_t piece : {kFlight.size(), std::size_t{1}, std::size_t{2}, std::size_t{5}, std::size_t{45},
                                    std::size_t{47}, std::size_t{50}}) {
        const CertificateScan scan = scanForServerCertificate(records(kFlight, piece));
        EXPECT_EQ(scan.outcome, Outcome::kFound) << piece;
        EXPECT_EQ(scan.certificate, kLeaf) << piece;
    }
    // One record per message.
    const Bytes perMessage =
        record(22, kServerHello) + record(22, certificateMessage({kLeaf})) + record(22, kServerHelloDone);
    EXPECT_EQ(scanForServerCertificate(perMessage).certificate, kLeaf);
}

TEST(CertificateScan, OtherRecordsArePassedOverUntilChangeCipherSpec) {
    const Bytes alert = record(21, {1, 0});
    const Bytes unknown = record(99, {1, 2, 3});
    struct Case {
        Bytes bytes;
        Outcome outcome;
    };
    const Case cases[] = {
        {alert + records(kFlight, 1000), Outcome::kFound},
        {records(kServerHello, 1000) + unknown + records(certificateMessage({kLeaf}), 1000), Outcome::kFound},
        // Behind ChangeCipherSpec the handshake is encrypted: nothing to read.
        {records(kServerHello, 1000) + record(20, {1}) + records(certificateMessage({kLeaf}), 1000),
         Outcome::kNotFound},
    };
    for (const auto& c : cases) EXPECT_EQ(scanForServerCertificate(c.bytes).outcome, c.outcome);
}

TEST(CertificateScan, NothingToFindYet) {
    const Bytes certificate = certificateMessage({kLeaf});
    const Bytes cases[] = {
        {},
        records(kServerHello, 1000),
        records(kServerHello + kServerHelloDone, 1000),
        // The certificate message continues in a record not yet received.
        records(kServerHello + Bytes(certificate.begin(), certificate.end() - 1), 1000),
        // A message announcing 16 MB: only what is there is ever held.
        record(22, {11, 0xFF, 0xFF, 0xFF, 0, 0, 1}),
    };
    for (const auto& bytes : cases) {
        const CertificateScan scan = scanForServerCertificate(bytes);
        EXPECT_EQ(scan.outcome, Outcome::kNotFound);
        EXPECT_TRUE(scan.certificate.empty());
    }
}

TEST(CertificateScan, RecordsRunningPastTheDataAreMalformedUnlessTheCertificateCameFirst) {
    const Bytes whole = records(kFlight, 1000);
    struct Case {
        Bytes bytes;
        Outcome outcome;
    };
    const Case cases[] = {
        {Bytes(whole.begin(), whole.end() - 1), Outcome::kMalformed},
        {Bytes(whole.begin(), whole.begin() + 4), Outcome::kMalformed},  // header cut short
        {{22, 3, 3, 0, 1}, Outcome::kMalformed},
        {records(kServerHello, 1000) + Bytes{22, 3}, Outcome::kMalformed},
        {records(kServerHello + certificateMessage({kLeaf}), 1000) + Bytes{22, 3, 3, 0x10, 0}, Outcome::kFound},
    };
    for (const auto& c : cases) EXPECT_EQ(scanForServerCertificate(c.bytes).outcome, c.outcome);
}

TEST(CertificateScan, ACertificateListThatDoesNotFitItsMessageIsMalformed) {
    struct Case {
        Bytes body;
        Outcome outcome;
        Bytes certificate;
    };
    const Case cases[] = {
        {{0, 0, 8, 0, 0, 5, 1, 2, 3, 4, 5}, Outcome::kFound, {1, 2, 3, 4, 5}},
        {{0, 0, 9, 0, 0, 5, 1, 2, 3, 4, 5, 9}, Outcome::kFound, {1, 2, 3, 4, 5}},  // room to spare
        {{0, 0, 9, 0, 0, 5, 1, 2, 3, 4, 5}, Outcome::kMalformed, {}},              // list past the message
        {{0, 0, 8, 0, 0, 6, 1, 2, 3, 4, 5}, Outcome::kMalformed, {}},              // certificate past the list
        {{0, 0, 3, 0, 0, 0}, Outcome::kMalformed, {}},                             // empty certificate
        {{0, 0, 0}, Outcome::kMalformed, {}},                                      // empty list
        {{0, 0, 2, 0, 0}, Outcome::kMalformed, {}},
        {{}, Outcome::kMalformed, {}},
    };
    for (const auto& c : cases) {
        const CertificateScan scan = scanForServerCertificate(record(22, kServerHello + message(11, c.body)));
        EXPECT_EQ(scan.outcome, c.outcome);
        EXPECT_EQ(scan.certificate, c.certificate);
    }
}

TEST(CertificateScan, TakesTheFirstCertificateMessageOnly) {
    const Bytes bytes = records(certificateMessage({kIssuer}) + certificateMessage({kLeaf}), 1000);
    EXPECT_EQ(scanForServerCertificate(bytes).certificate, kIssuer);
}

}  // namespace
}  // namespace morvane::tls
