#include "control/tls/certificate_texts.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/pem.h>

#include <memory>

namespace morvane::tls {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes counting(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return bytes;
}

TEST(PolicyStatus, CodeInHexThenTheTextOfTheResult) {
    struct Case {
        std::uint32_t code;
        std::string text;
    };
    const Case cases[] = {
        {0, "[0x0] OK"},
        {0x80092010, "[0x80092010] The certificate or signature has been revoked."},
        {0x80092013,
         "[0x80092013] Since the revocation server was offline, the called function was not able to complete the "
         "revocation check."},
        {0x80096004, "[0x80096004] The signature of the certificate cannot be verified."},
        {0x80096019, "[0x80096019] The certificate's basic constraints are invalid or missing."},
        {0x800B0101, "[0x800b0101] A required certificate is not within its validity period."},
        {0x800B0102, "[0x800b0102] The validity periods of the certification chain do not nest correctly."},
        {0x800B0103,
         "[0x800b0103] A certificate that can only be used as an end-entity is being used as a CA or visa versa."},
        {0x800B0106, "[0x800b0106] A certificate is being used for a non permitted purpose."},
        {0x800B0109,
         "[0x800b0109] A certification chain processed correctly but terminated in a root certificate not trusted by "
         "the trust provider."},
        {0x800B010A, "[0x800b010a] A chain of certificates was not correctly created."},
        {0x800B010C, "[0x800b010c] A certificate in the chain has been explicitly revoked by its issuer."},
        {0x800B010D,
         "[0x800b010d] The root certificate is a testing certificate and policy settings disallow test certificates."},
        {0x800B010E, "[0x800b010e] The revocation process could not continue. The certificates could not be checked."},
        {0x800B010F, "[0x800b010f] The certificate's CN name does not match the passed value."},
        {0x800B0110, "[0x800b0110] The certificate is not valid for the requested usage."},
        {0x800B0104, "[0x800b0104] (unknown status code)"},
        {1, "[0x1] (unknown status code)"},
        {0xFFFFFFFF, "[0xffffffff] (unknown status code)"},
    };
    for (const auto& c : cases) EXPECT_EQ(policyStatusText(c.code), c.text);
}

TEST(Base64Lines, SixtyFourCharactersALineSeparatedByCrLf) {
    struct Case {
        std::size_t bytes;
        std::vector<std::size_t> lineLengths;
    };
    const Case cases[] = {
        {0, {}}, {1, {4}}, {47, {64}}, {48, {64}}, {49, {64, 4}}, {96, {64, 64}}, {100, {64, 64, 8}},
    };
    for (const auto& c : cases) {
        const std::string text = base64Lines(counting(c.bytes));
        std::vector<std::size_t> lengths;
        std::size_t start = 0;
        while (start < text.size()) {
            const std::size_t end = text.find("\r\n", start);
            lengths.push_back((end == std::string::npos ? text.size() : end) - start);
            if (end == std::string::npos) break;
            start = end + 2;
        }
        EXPECT_EQ(lengths, c.lineLengths) << c.bytes;
    }
    EXPECT_EQ(base64Lines(Bytes{1, 2, 3}), "AQID");
    EXPECT_EQ(base64Lines(Bytes{0xFF}), "/w==");
}

TEST(PemArmor, BeginLineBase64LinesEndLineAllEndingInCrLf) {
    EXPECT_EQ(pemArmor("CERTIFICATE", Bytes{1, 2, 3}),
              "-----BEGIN CERTIFICATE-----\r\nAQID\r\n-----END CERTIFICATE-----\r\n");
    const std::string body = base64Lines(counting(100));
    EXPECT_EQ(pemArmor("X509 CRL", counting(100)),
              "-----BEGIN X509 CRL-----\r\n" + body + "\r\n-----END X509 CRL-----\r\n");
}

// OpenSSL's PEM reader, which knows nothing of this code, gets the label and
// the bytes back.
TEST(PemArmor, ReadsBackWithOpenSsl) {
    for (const std::size_t size : {1u, 48u, 49u, 700u}) {
        const Bytes der = counting(size);
        const std::string pem = pemArmor("CERTIFICATE", der);
        std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())),
                                                      BIO_free);
        char* name = nullptr;
        char* header = nullptr;
        unsigned char* data = nullptr;
        long length = 0;
        ASSERT_EQ(PEM_read_bio(bio.get(), &name, &header, &data, &length), 1) << size;
        EXPECT_STREQ(name, "CERTIFICATE");
        EXPECT_EQ(Bytes(data, data + length), der);
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_free(data);
    }
}

TEST(PemChain, BlocksInChainOrderJoinedByCrLf) {
    const std::vector<Bytes> chain = {counting(5), counting(70), counting(2)};
    EXPECT_EQ(pemChain(chain), pemArmor("CERTIFICATE", chain[0]) + "\r\n" + pemArmor("CERTIFICATE", chain[1]) + "\r\n" +
                                   pemArmor("CERTIFICATE", chain[2]));
    EXPECT_EQ(pemChain(std::span(chain).first(1)), pemArmor("CERTIFICATE", chain[0]));
    EXPECT_EQ(pemChain({}), "");
}

}  // namespace
}  // namespace morvane::tls
