#include "control/tls/cipher_suites.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <map>
#include <memory>

namespace morvane::tls {
namespace {

bool isFilled(const CipherSuiteSlot& slot) { return slot.number != 0; }

TEST(CipherSuiteTable, Has384SlotsOfWhich343AreFilledFirstAndTheRestEmpty) {
    const auto table = cipherSuiteTable();
    ASSERT_EQ(table.size(), 384u);
    std::size_t filled = 0;
    while (filled < table.size() && isFilled(table[filled])) ++filled;
    EXPECT_EQ(filled, 343u);
    for (std::size_t i = filled; i < table.size(); ++i) {
        EXPECT_EQ(table[i].number, 0u) << i;
        EXPECT_TRUE(table[i].name.empty()) << i;
    }
}

TEST(CipherSuiteTable, FillsEachRangeWholeAndTheSingleNumbers) {
    std::map<std::uint32_t, std::string_view> byNumber;
    for (const auto& slot : cipherSuiteTable()) {
        if (!isFilled(slot)) continue;
        EXPECT_FALSE(slot.name.empty()) << slot.number;
        EXPECT_TRUE(byNumber.emplace(slot.number, slot.name).second) << "twice: " << slot.number;
    }
    struct Range {
        std::uint32_t first, last;
        std::size_t count;
    };
    const Range ranges[] = {
        {0x0001, 0x0046, 70}, {0x0060, 0x006D, 14}, {0x0080, 0x00C5, 70}, {0xC001, 0xC0AF, 175},
        {0xCC13, 0xCC15, 3},  {0xFEFE, 0xFEFF, 2},  {0xFFE0, 0xFFE1, 2},  {0x010080, 0x0700C0, 7},
    };
    std::size_t total = 0;
    for (const auto& range : ranges) {
        const auto begin = byNumber.lower_bound(range.first);
        const auto end = byNumber.upper_bound(range.last);
        EXPECT_EQ(static_cast<std::size_t>(std::distance(begin, end)), range.count) << range.first;
        total += range.count;
    }
    EXPECT_EQ(total, 343u);
    EXPECT_EQ(byNumber.size(), 343u);
}

TEST(CipherSuiteText, NameThenTheNumberInLowerCaseHex) {
    struct Case {
        std::uint32_t number;
        std::string text;
    };
    const Case cases[] = {
        {0x0001, "TLS_RSA_WITH_NULL_MD5 (0x0001)"},
        {0x002F, "TLS_RSA_WITH_AES_128_CBC_SHA (0x002f)"},
        {0x0046, "TLS_DH_anon_WITH_CAMELLIA_128_CBC_SHA (0x0046)"},
        {0x0060, "TLS_RSA_EXPORT1024_WITH_RC4_56_MD5 (0x0060)"},
        {0x0080, "TLS_GOSTR341094_WITH_28147_CNT_IMIT (0x0080)"},
        {0x00C5, "TLS_DH_anon_WITH_CAMELLIA_256_CBC_SHA256 (0x00c5)"},
        {0xC02F, "TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256 (0xc02f)"},
        {0xC0AF, "TLS_ECDHE_ECDSA_WITH_AES_256_CCM_8 (0xc0af)"},
        {0xCC13, "TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305_SHA256 (0xcc13)"},
        {0xCC14, "TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305_SHA256 (0xcc14)"},
        {0xCC15, "TLS_DHE_RSA_WITH_CHACHA20_POLY1305_SHA256 (0xcc15)"},
        {0xFEFE, "SSL_RSA_FIPS_WITH_DES_CBC_SHA (0xfefe)"},
        {0xFFE1, "SSL_RSA_FIPS_WITH_DES_CBC_SHA (0xffe1)"},
        {0xFEFF, "SSL_RSA_FIPS_WITH_3DES_EDE_CBC_SHA (0xfeff)"},
        {0xFFE0, "SSL_RSA_FIPS_WITH_3DES_EDE_CBC_SHA (0xffe0)"},
        {0x010080, "SSL2_RC4_128_WITH_MD5 (0x010080)"},
        {0x060040, "SSL2_DES_64_CBC_WITH_MD5 (0x060040)"},
        {0x0700C0, "SSL2_DES_192_EDE3_CBC_WITH_MD5 (0x0700c0)"},
    };
    for (const auto& c : cases) EXPECT_EQ(cipherSuiteText(c.number), c.text);
}

TEST(CipherSuiteText, NumbersOutsideTheTableAreUnknownInDecimal) {
    struct Case {
        std::uint32_t number;
        std::string text;
    };
    const Case cases[] = {
        {0x0000, "Unknown (0)"},   // only the empty slots carry 0
        {0x0047, "Unknown (71)"},  // between the ranges
        {0x006E, "Unknown (110)"},      {0x00C6, "Unknown (198)"},
        {0xC0B0, "Unknown (49328)"},    {0x1301, "Unknown (4865)"},   // TLS 1.3 suites were never in the table
        {0x1305, "Unknown (4869)"},     {0xCCA8, "Unknown (52392)"},  // the final ChaCha20 numbers neither
        {0x0A0A, "Unknown (2570)"},                                   // a GREASE value
        {0x070080, "Unknown (458880)"},
    };
    for (const auto& c : cases) EXPECT_EQ(cipherSuiteText(c.number), c.text);
}

// OpenSSL carries the registered names of the suites it implements; where it
// knows a number of the table, the names must agree.
TEST(CipherSuiteTable, AgreesWithTheRegisteredNamesOpenSslKnows) {
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> ctx(SSL_CTX_new(TLS_method()), SSL_CTX_free);
    ASSERT_TRUE(ctx);
    ASSERT_EQ(SSL_CTX_set_cipher_list(ctx.get(), "ALL:COMPLEMENTOFALL:@SECLEVEL=0"), 1);
    std::map<std::uint32_t, std::string_view> table;
    for (const auto& slot : cipherSuiteTable()) {
        if (isFilled(slot)) table.emplace(slot.number, slot.name);
    }
    const STACK_OF(SSL_CIPHER)* ciphers = SSL_CTX_get_ciphers(ctx.get());
    int compared = 0;
    for (int i = 0; i < sk_SSL_CIPHER_num(ciphers); ++i) {
        const SSL_CIPHER* cipher = sk_SSL_CIPHER_value(ciphers, i);
        const auto found = table.find(SSL_CIPHER_get_protocol_id(cipher));
        if (found == table.end()) continue;
        EXPECT_EQ(found->second, SSL_CIPHER_standard_name(cipher));
        ++compared;
    }
    // OpenSSL 3.0 knows 148 of them; older or newer builds a similar number.
    EXPECT_GT(compared, 100);
}

}  // namespace
}  // namespace morvane::tls
