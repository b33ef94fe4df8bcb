#include "control/tls/channel_texts.h"

#include <gtest/gtest.h>

#include <set>

namespace morvane::tls {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Ids = std::vector<std::uint32_t>;

TEST(EnablingVersions, NamesEachGroupWithABitSetNewestFirst) {
    struct Case {
        std::uint32_t protocols;
        std::string text;
    };
    const Case cases[] = {
        {4032, "Enabling TLS versions: TLS1.2 TLS1.1 TLS1.0 "},  // the default
        {0xC00, "Enabling TLS versions: TLS1.2 "},
        {0x800, "Enabling TLS versions: TLS1.2 "},  // one bit of the pair is enough
        {0x3000, "Enabling TLS versions: TLS1.3 "},
        {0x3C00, "Enabling TLS versions: TLS1.3 TLS1.2 "},
        {0x3C, "Enabling TLS versions: SSL3.0 SSL2.0 "},
        {0x3, "Enabling TLS versions: PCT1 "},
        {0, "Enabling TLS versions: "},
        {0x40000000, "Enabling TLS versions: UNI "},
        {0x3FFFFFFF, "Enabling TLS versions: TLS1.3 TLS1.2 TLS1.1 TLS1.0 SSL3.0 SSL2.0 PCT1 "},
        {0xFFFFFFFF, "Enabling TLS versions: TLS1.3 TLS1.2 TLS1.1 TLS1.0 SSL3.0 SSL2.0 UNI PCT1 "},
    };
    for (const auto& c : cases) EXPECT_EQ(enablingVersionsText(c.protocols), c.text) << c.protocols;
}

TEST(AlgorithmList, KnownNamesInAnyCaseWithBlanksUnknownItemsSkipped) {
    struct Case {
        std::string text;
        Ids ids;
    };
    const Case cases[] = {
        {"", {}},
        {" ; ;\t", {}},
        {"CALG_AES_256", {0x6610}},
        {"CALG_AES_128; calg_sha1 ;bogus", {0x660E, 0x8004}},
        {"\tCalg_Rsa_Keyx\t;CALG_ECDH_EPHEM", {0xA400, 0xAE06}},
        {"CALG_SHA;CALG_SHA1", {0x8004, 0x8004}},  // two names of one identifier
        {"CALG_3DES;CALG_3DES_112;CALG_DES;CALG_DESX", {0x6603, 0x6609, 0x6601, 0x6604}},
        {"CALG_AES_2560;CALG AES;CALG_;AES_128", {}},  // near misses
        {"CALG_RC4;;CALG_RC4", {0x6801, 0x6801}},
        {"calg_tls1prf;CALG_OID_INFO_CNG_ONLY;CALG_OID_INFO_PARAMETERS", {0x800A, 0xFFFFFFFF, 0xFFFFFFFE}},
    };
    for (const auto& c : cases) EXPECT_EQ(parseAlgorithmList(c.text), c.ids) << c.text;
}

TEST(AlgorithmList, KeepsAtMost32Identifiers) {
    std::string text;
    for (int i = 0; i < 40; ++i) text += (i % 2 ? "CALG_MD5;" : "junk;CALG_SHA_256;");
    const Ids ids = parseAlgorithmList(text);
    ASSERT_EQ(ids.size(), 32u);
    EXPECT_EQ(ids.front(), 0x800Cu);
    EXPECT_EQ(ids[1], 0x8003u);
}

TEST(AlgorithmList, EveryNameFromCalg3DesToCalgTls1PrfIsKnown) {
    const auto names = algorithmNames();
    EXPECT_EQ(names.size(), 50u);  // 49 identifiers, CALG_SHA and CALG_SHA1 share one
    std::set<std::uint32_t> distinct;
    for (const auto& known : names) {
        distinct.insert(known.id);
        EXPECT_EQ(parseAlgorithmList(known.name), Ids{known.id}) << known.name;
    }
    EXPECT_EQ(distinct.size(), 49u);
    EXPECT_EQ(names.front().name, "CALG_3DES");
    EXPECT_EQ(names.back().name, "CALG_TLS1PRF");
    // A few identifiers as the platform's headers define them.
    const std::pair<std::string, std::uint32_t> spot[] = {
        {"CALG_DH_EPHEM", 0xAA02},   {"CALG_ECDSA", 0x2203},       {"CALG_SCHANNEL_ENC_KEY", 0x4C07},
        {"CALG_HUGHES_MD5", 0xA003}, {"CALG_SSL3_SHAMD5", 0x8008}, {"CALG_SHA_512", 0x800E},
        {"CALG_RSA_SIGN", 0x2400},   {"CALG_NO_SIGN", 0x2000},     {"CALG_ECMQV", 0xA001},
    };
    for (const auto& [name, id] : spot) EXPECT_EQ(parseAlgorithmList(name), Ids{id}) << name;
}

TEST(NegotiatedParameters, OneLineWithTheControlsWording) {
    struct Case {
        ConnectionInfo info;
        std::string text;
    };
    const Case cases[] = {
        {{0x800, kCalgAes256, 256, kCalgSha384, 0, kCalgEcdhEphem, 255},
         "Negotiated SSL parameters: Protocol: TLS1.2 Cipher: AES Cipher strength: 256 Hash: SHA384 "
         "Hash strength: 384 Key exchange: ECDH Ephemeral RSA Key exchange strength: 255 "},
        {{0x80, kCalgRc4, 128, kCalgMd5, 128, kCalgRsaKeyx, 2048},
         "Negotiated SSL parameters: Protocol: TLS1 Cipher: RC4 Cipher strength: 128 Hash: MD5 "
         "Hash strength: 128 Key exchange: RSA Key exchange strength: 2048 "},
        {{0x200, kCalg3Des, 168, kCalgSha1, 0, kCalgDhEphem, 1024},
         "Negotiated SSL parameters: Protocol: TLS1.1 Cipher: Triple DES Cipher strength: 168 Hash: SHA "
         "Hash strength: 160 Key exchange: DH Ephemeral Key exchange strength: 1024 "},
        {{0x10, kCalgDes, 56, kCalgSha256, 0, kCalgRsaSign, 512},
         "Negotiated SSL parameters: Protocol: SSL3 Cipher: DES Cipher strength: 56 Hash: SHA256 "
         "Hash strength: 256 Key exchange: RSA Key exchange strength: 512 "},
        {{0x8, kCalgCylinkMek, 40, kCalgSha512, 0, kCalgKeaKeyx, 80},
         "Negotiated SSL parameters: Protocol: SSL2 Cipher: DES Cipher strength: 40 Hash: SHA512 "
         "Hash strength: 512 Key exchange: KEA Key exchange strength: 80 "},
        {{0x1, kCalgRc2, 40, kCalgMd5, 0, kCalgRsaKeyx, 512},
         "Negotiated SSL parameters: Protocol: PCT1 Cipher: RC2 Cipher strength: 40 Hash: MD5 "
         "Hash strength: 128 Key exchange: RSA Key exchange strength: 512 "},
        {{0x400, kCalgSkipjack, 80, kCalgSha1, 160, kCalgRsaKeyx, 1024},
         "Negotiated SSL parameters: Protocol: TLS1.2 Cipher: Skipjack Cipher strength: 80 Hash: SHA "
         "Hash strength: 160 Key exchange: RSA Key exchange strength: 1024 "},
        // Unknown protocol, cipher, hash and exchange: the hash and the
        // exchange print with the cipher's wording, a zero strength stays.
        {{0x2000, 0x6620, 256, 0x800F, 0, 0xAA05, 256},
         "Negotiated SSL parameters: Protocol: 0x2000 Cipher: 0x6620 Cipher strength: 256 Cipher: 0x800f "
         "Hash strength: 0 Cipher: 0xaa05 Key exchange strength: 256 "},
        {{0, 0, 0, 0, 0, 0, 0},
         "Negotiated SSL parameters: Protocol: 0x0 Cipher: 0x0 Cipher strength: 0 Cipher: 0x0 "
         "Hash strength: 0 Cipher: 0x0 Key exchange strength: 0 "},
    };
    for (const auto& c : cases) EXPECT_EQ(negotiatedParametersText(c.info), c.text);
    for (const std::uint32_t aes : {kCalgAes, kCalgAes128, kCalgAes192, kCalgAes256}) {
        EXPECT_NE(negotiatedParametersText({0xC00, aes, 128, kCalgSha1, 0, kCalgRsaKeyx, 2048}).find("Cipher: AES "),
                  std::string::npos);
    }
    EXPECT_EQ(kConnectionInfoUnavailable, "Negotiated SSL parameters: Connection info not available.");
}

TEST(Alpn, IdentifiersBecomeLengthPrefixedEntries) {
    struct Case {
        std::string text;
        Bytes wire;
    };
    const Case cases[] = {
        {"", {}},
        {",,", {}},
        {"h2", {2, 'h', '2'}},
        {"h2,http/1.1", {2, 'h', '2', 8, 'h', 't', 't', 'p', '/', '1', '.', '1'}},
        {",h2,,x,", {2, 'h', '2', 1, 'x'}},
        {" h2", {3, ' ', 'h', '2'}},  // taken as written
    };
    for (const auto& c : cases) EXPECT_EQ(alpnWireList(c.text), c.wire) << c.text;

    const std::string longest(255, 'a');
    const Bytes kept = alpnWireList(longest + "," + std::string(256, 'b') + ",c");
    ASSERT_EQ(kept.size(), 1u + 255 + 2);
    EXPECT_EQ(kept[0], 255);
    EXPECT_EQ(kept[256], 1);
    EXPECT_EQ(kept[257], 'c');
}

TEST(Alpn, TheListNeverOutgrowsItsSixteenBitSize) {
    std::string text;
    for (int i = 0; i < 300; ++i) text += std::string(255, static_cast<char>('a' + i % 26)) + ",";
    const Bytes wire = alpnWireList(text);
    EXPECT_EQ(wire.size(), 256u * 255);  // 255 whole entries; the 256th would pass 65535
    const Bytes buffer = alpnProtocolBuffer(text);
    ASSERT_EQ(buffer.size(), 10 + wire.size());
    EXPECT_EQ(buffer[8] | (buffer[9] << 8), static_cast<int>(wire.size()));
}

TEST(Alpn, ThePlatformBufferIsSizeKindListSizeThenTheEntriesLittleEndian) {
    const Bytes expected = {18, 0,   0,   0,  // 4 + 2 + 12
                            2,  0,   0,   0,  // ALPN
                            12, 0,            // list size
                            2,  'h', '2', 8, 'h', 't', 't', 'p', '/', '1', '.', '1'};
    EXPECT_EQ(alpnProtocolBuffer("h2,http/1.1"), expected);
    EXPECT_EQ(alpnProtocolBuffer("x"), (Bytes{8, 0, 0, 0, 2, 0, 0, 0, 2, 0, 1, 'x'}));
    EXPECT_TRUE(alpnProtocolBuffer("").empty());
    EXPECT_TRUE(alpnProtocolBuffer(",").empty());
    EXPECT_TRUE(alpnProtocolBuffer(std::string(256, 'z')).empty());
}

}  // namespace
}  // namespace morvane::tls
