// Names in the platform's X.500 form and PEM armoring, checked against
// names built entry by entry and against OpenSSL's own PEM reader.
#include "platform/security/certificate_text.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <algorithm>

#include "platform/security/cipher_selection.h"
#include "platform/security/test_pki.h"

namespace platform::security {
namespace {

struct Entry {
    const char* key;
    const char* value;
    bool sameRdn;  // joins the previous entry's RDN
};

struct NameCase {
    const char* name;
    std::vector<Entry> entries;
    const char* expected;
};

class X500Name : public ::testing::TestWithParam<NameCase> {};

TEST_P(X500Name, ReadsAsThePlatformWritesIt) {
    using NamePtr = std::unique_ptr<X509_NAME, OpenSslFree<X509_NAME_free>>;
    NamePtr name(X509_NAME_new());
    for (const Entry& entry : GetParam().entries) {
        ASSERT_EQ(X509_NAME_add_entry_by_txt(name.get(), entry.key, MBSTRING_UTF8,
                                             reinterpret_cast<const unsigned char*>(entry.value), -1, -1,
                                             entry.sameRdn ? -1 : 0),
                  1);
    }
    EXPECT_EQ(formatX500Name(name.get()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, X500Name,
    ::testing::Values(NameCase{"encoded_order_kept",
                               {{"C", "DE", false}, {"O", "Test", false}, {"CN", "localhost", false}},
                               "C=DE, O=Test, CN=localhost"},
                      NameCase{"cn_first_when_encoded_first",
                               {{"CN", "www.example.com", false}, {"O", "Example", false}, {"C", "US", false}},
                               "CN=www.example.com, O=Example, C=US"},
                      NameCase{
                          "key_names",
                          {{"ST", "Bavaria", false},
                           {"L", "Munich", false},
                           {"OU", "Lab", false},
                           {"emailAddress", "a@b.test", false},
                           {"street", "Main 1", false},
                           {"DC", "test", false},
                           {"serialNumber", "42", false},
                           {"title", "Dr", false},
                           {"GN", "Ada", false},
                           {"SN", "King", false},
                           {"initials", "AK", false}},
                          "S=Bavaria, L=Munich, OU=Lab, E=a@b.test, STREET=Main 1, DC=test, SERIALNUMBER=42, T=Dr, "
                          "G=Ada, SN=King, I=AK"},
                      NameCase{"multi_valued_rdn_without_plus",
                               {{"CN", "a", false}, {"OU", "b", true}, {"O", "c", false}},
                               "CN=a OU=b, O=c"},
                      NameCase{"comma_is_quoted", {{"O", "Acme, Inc.", false}}, "O=\"Acme, Inc.\""},
                      NameCase{"quote_is_doubled", {{"CN", "say \"hi\"", false}}, "CN=\"say \"\"hi\"\"\""},
                      NameCase{"blank_at_end_is_quoted", {{"CN", "x ", false}}, "CN=\"x \""},
                      NameCase{"each_special_is_quoted",
                               {{"OU", "a+b", false},
                                {"OU", "a=b", false},
                                {"OU", "<a>", false},
                                {"OU", "#1", false},
                                {"OU", "a;b", false}},
                               "OU=\"a+b\", OU=\"a=b\", OU=\"<a>\", OU=\"#1\", OU=\"a;b\""},
                      NameCase{"utf8_kept",
                               {{"O",
                                 "Gr\xC3\xBC"
                                 "n",
                                 false}},
                               "O=Gr\xC3\xBC"
                               "n"},
                      NameCase{"unknown_oid", {{"1.3.6.1.4.1.99999.1", "x", false}}, "OID.1.3.6.1.4.1.99999.1=x"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CertificateNames, SubjectAndIssuerOfADerCertificate) {
    testing::Issued root = testing::issue(testing::caRequest({{"C", "DE"}, {"O", "Test"}, {"CN", "Root"}}, 1));
    testing::Issued leaf = testing::issue(testing::leafRequest("localhost", "DNS:localhost", 2), &root);
    EXPECT_EQ(certificateSubject(leaf.der()), "CN=localhost");
    EXPECT_EQ(certificateIssuer(leaf.der()), "C=DE, O=Test, CN=Root");
    std::vector<std::uint8_t> junk{1, 2, 3};
    EXPECT_EQ(certificateSubject(junk), std::nullopt);
    EXPECT_EQ(certificateIssuer(junk), std::nullopt);
}

struct ArmorCase {
    std::size_t size;
    std::size_t lines;
};

class PemArmor : public ::testing::TestWithParam<ArmorCase> {};

TEST_P(PemArmor, HasTheFrameAndLinesOf64) {
    std::vector<std::uint8_t> bytes(GetParam().size);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    std::string armored = pemArmor(bytes, "TEST DATA");
    const std::string begin = "-----BEGIN TEST DATA-----\r\n";
    const std::string end = "\r\n-----END TEST DATA-----\r\n";
    ASSERT_EQ(armored.compare(0, begin.size(), begin), 0);
    ASSERT_EQ(armored.compare(armored.size() - end.size(), end.size(), end), 0);
    std::string body = armored.substr(begin.size(), armored.size() - begin.size() - end.size());
    EXPECT_EQ(body, base64Lines(bytes));
    std::size_t lines = 0;
    for (std::size_t at = 0; at <= body.size();) {
        std::size_t next = body.find("\r\n", at);
        std::size_t length = (next == std::string::npos ? body.size() : next) - at;
        ++lines;
        if (next != std::string::npos)
            EXPECT_EQ(length, 64u);
        else
            EXPECT_LE(length, 64u);
        if (next == std::string::npos) break;
        at = next + 2;
    }
    EXPECT_EQ(lines, GetParam().lines);
    EXPECT_EQ(body.find('\n', body.size() - 1), std::string::npos);  // no break after the last line
}

INSTANTIATE_TEST_SUITE_P(Sizes, PemArmor,
                         ::testing::Values(ArmorCase{1, 1}, ArmorCase{48, 1}, ArmorCase{49, 2}, ArmorCase{96, 2},
                                           ArmorCase{1000, 21}));

TEST(PemArmorCertificate, OpenSslReadsItBack) {
    testing::Issued cert = testing::issue(testing::leafRequest("localhost", "DNS:localhost", 5));
    std::string pem = pemArmor(cert.der());
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    X509Ptr read(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    ASSERT_TRUE(read);
    EXPECT_EQ(X509_cmp(read.get(), cert.cert.get()), 0);
    EXPECT_EQ(pem.rfind("-----BEGIN CERTIFICATE-----\r\n", 0), 0u);
}

struct RangeCase {
    std::uint32_t mask;
    int minVersion;
    int maxVersion;
    std::uint64_t holes;
};

class ProtocolBits : public ::testing::TestWithParam<RangeCase> {};

TEST_P(ProtocolBits, BecomeAnOpenSslRange) {
    auto range = protocolRange(GetParam().mask);
    ASSERT_TRUE(range.has_value());
    EXPECT_EQ(range->minVersion, GetParam().minVersion);
    EXPECT_EQ(range->maxVersion, GetParam().maxVersion);
    EXPECT_EQ(range->holeOptions, GetParam().holes);
}

INSTANTIATE_TEST_SUITE_P(Masks, ProtocolBits,
                         ::testing::Values(RangeCase{0, 0, 0, 0}, RangeCase{0x40000000, 0, 0, 0},
                                           RangeCase{0xC00, TLS1_2_VERSION, TLS1_2_VERSION, 0},
                                           RangeCase{0x400, TLS1_2_VERSION, TLS1_2_VERSION, 0},
                                           RangeCase{0xFC0, TLS1_VERSION, TLS1_2_VERSION, 0},
                                           RangeCase{0x30C0, TLS1_VERSION, TLS1_3_VERSION,
                                                     SSL_OP_NO_TLSv1_1 | SSL_OP_NO_TLSv1_2},
                                           RangeCase{0x3F, SSL3_VERSION, SSL3_VERSION, 0}));

TEST(ProtocolBits, OnlyVanishedProtocolsGiveNothing) {
    EXPECT_FALSE(protocolRange(SP_PROT_PCT1 | SP_PROT_SSL2).has_value());
}

TEST(CipherSelection, EmptyListKeepsTheDefaults) {
    CipherSelection selection = selectCiphers({}, 0);
    EXPECT_FALSE(selection.tls12Ciphers.has_value());
    EXPECT_FALSE(selection.tls13Suites.has_value());
    EXPECT_FALSE(selection.groups.has_value());
}

TEST(CipherSelection, KindsRestrictIndependently) {
    std::vector<AlgId> list{CALG_AES_256, CALG_ECDH_EPHEM};
    CipherSelection selection = selectCiphers(list, 0);
    ASSERT_TRUE(selection.tls12Ciphers.has_value());
    std::vector<std::string> names;
    for (std::size_t at = 0; at <= selection.tls12Ciphers->size();) {
        std::size_t next = std::min(selection.tls12Ciphers->find(':', at), selection.tls12Ciphers->size());
        names.push_back(selection.tls12Ciphers->substr(at, next - at));
        at = next + 1;
    }
    EXPECT_NE(std::find(names.begin(), names.end(), "ECDHE-RSA-AES256-GCM-SHA384"), names.end());
    for (const auto& name : names) {
        EXPECT_EQ(name.rfind("ECDHE-", 0), 0u) << name;
        EXPECT_NE(name.find("AES256"), std::string::npos) << name;
    }
    EXPECT_EQ(selection.tls13Suites, "TLS_AES_256_GCM_SHA384");
    EXPECT_EQ(selection.groups, "X25519:P-256:P-384:P-521");
}

}  // namespace
}  // namespace platform::security
