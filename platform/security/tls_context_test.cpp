// The provider against an OpenSSL server in memory: versions, suites, ALPN,
// server names, records cut and joined, tickets and resumption,
// renegotiation, close_notify and failed handshakes.
#include "platform/security/tls_context.h"

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <deque>
#include <random>
#include <string>

#include "platform/security/algorithm_mapping.h"
#include "platform/security/ciphertext_bio.h"
#include "platform/security/tls_record.h"
#include "platform/security/tls_test_support.h"

namespace platform::security {
namespace {

using testing::acquireCredentials;
using testing::credentialOptions;
using testing::Link;
using testing::ServerConfig;
using testing::ServerOptions;
using testing::serverVersions;
using testing::TestPki;

std::vector<std::uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

const ServerConfig& rsaServer() {
    static const ServerConfig config(TestPki::get().rsaLeaf, {});
    return config;
}

struct VersionCase {
    const char* name;
    std::uint32_t mask;
    int serverMax;
    std::uint32_t expectedProtocol;
};

class ProtocolMask : public ::testing::TestWithParam<VersionCase> {};

TEST_P(ProtocolMask, NegotiatesTheVersionItAllows) {
    const VersionCase& c = GetParam();
    ServerConfig config(TestPki::get().rsaLeaf, {}, serverVersions(0, c.serverMax));
    Link link(acquireCredentials(credentialOptions(c.mask)), config);
    ASSERT_EQ(link.handshake("localhost"), SEC_E_OK) << link.client.lastErrorText();
    EXPECT_TRUE(link.server.handshakeDone());
    auto info = link.client.connectionInfo();
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->protocol, c.expectedProtocol);
    EXPECT_EQ(protocolBit(SSL_version(link.server.ssl())), c.expectedProtocol);
}

INSTANTIATE_TEST_SUITE_P(
    Masks, ProtocolMask,
    ::testing::Values(VersionCase{"tls12_pair", 0xC00, 0, SP_PROT_TLS1_2_CLIENT},
                      VersionCase{"tls13_pair", 0x3000, 0, SP_PROT_TLS1_3_CLIENT},
                      VersionCase{"tls12_client_bit_only", 0x800, 0, SP_PROT_TLS1_2_CLIENT},
                      VersionCase{"tls12_and_13_takes_13", 0x3C00, 0, SP_PROT_TLS1_3_CLIENT},
                      VersionCase{"tls12_and_13_old_server", 0x3C00, TLS1_2_VERSION, SP_PROT_TLS1_2_CLIENT},
                      VersionCase{"no_version_bits_defaults", 0, 0, SP_PROT_TLS1_3_CLIENT},
                      VersionCase{"tls10_to_12_with_hole", 0xCC0, TLS1_1_VERSION, SP_PROT_TLS1_0_CLIENT}),
    [](const auto& p) { return std::string(p.param.name); });

struct SuiteCase {
    const char* name;
    bool rsaCertificate;
    std::uint32_t mask;
    const char* serverCiphers;  // TLS 1.2 list or TLS 1.3 suites, by mask
    std::uint16_t suite;
    AlgId cipher;
    int cipherBits;
    AlgId hash;
    int hashBits;
    AlgId exchange;
    int exchangeBits;
};

class SuiteInfo : public ::testing::TestWithParam<SuiteCase> {};

TEST_P(SuiteInfo, IsReportedInPlatformIdentifiers) {
    const SuiteCase& c = GetParam();
    ServerOptions options;
    if (c.mask == 0x3000) {
        options.suites = c.serverCiphers;
    } else {
        options.cipherList = c.serverCiphers;
    }
    options.maxVersion = c.mask == 0x3000 ? 0 : TLS1_2_VERSION;
    const auto& pki = TestPki::get();
    ServerConfig config(c.rsaCertificate ? pki.rsaLeaf : pki.ecLeaf, {}, options);
    Link link(acquireCredentials(credentialOptions(c.mask)), config);
    ASSERT_EQ(link.handshake("localhost"), SEC_E_OK) << link.client.lastErrorText();
    auto info = link.client.connectionInfo();
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->cipherSuite, c.suite) << info->cipherSuiteName;
    EXPECT_EQ(info->cipher, c.cipher);
    EXPECT_EQ(info->cipherStrength, c.cipherBits);
    EXPECT_EQ(info->hash, c.hash);
    EXPECT_EQ(info->hashStrength, c.hashBits);
    EXPECT_EQ(info->exchange, c.exchange);
    EXPECT_EQ(info->exchangeStrength, c.exchangeBits);
}

INSTANTIATE_TEST_SUITE_P(
    Suites, SuiteInfo,
    ::testing::Values(SuiteCase{"ecdhe_rsa_aes128_gcm", true, 0xC00, "ECDHE-RSA-AES128-GCM-SHA256", 0xC02F,
                                CALG_AES_128, 128, CALG_SHA_256, 256, CALG_ECDH_EPHEM, 253},
                      SuiteCase{"rsa_aes256_cbc_sha256", true, 0xC00, "AES256-SHA256", 0x003D, CALG_AES_256, 256,
                                CALG_SHA_256, 256, CALG_RSA_KEYX, 2048},
                      SuiteCase{"dhe_rsa_aes128_sha", true, 0xC00, "DHE-RSA-AES128-SHA", 0x0033, CALG_AES_128, 128,
                                CALG_SHA1, 160, CALG_DH_EPHEM, 2048},
                      SuiteCase{"ecdhe_ecdsa_aes256_gcm", false, 0xC00, "ECDHE-ECDSA-AES256-GCM-SHA384", 0xC02C,
                                CALG_AES_256, 256, CALG_SHA_384, 384, CALG_ECDH_EPHEM, 253},
                      SuiteCase{"ecdhe_ecdsa_chacha20", false, 0xC00, "ECDHE-ECDSA-CHACHA20-POLY1305", 0xCCA9,
                                CALG_TALTRIX_CHACHA20, 256, CALG_SHA_256, 256, CALG_ECDH_EPHEM, 253},
                      SuiteCase{"tls13_aes256", false, 0x3000, "TLS_AES_256_GCM_SHA384", 0x1302, CALG_AES_256, 256,
                                CALG_SHA_384, 384, CALG_ECDH_EPHEM, 253},
                      SuiteCase{"tls13_aes128", true, 0x3000, "TLS_AES_128_GCM_SHA256", 0x1301, CALG_AES_128, 128,
                                CALG_SHA_256, 256, CALG_ECDH_EPHEM, 253}),
    [](const auto& p) { return std::string(p.param.name); });

struct ChoiceCase {
    const char* name;
    std::uint32_t mask;
    std::vector<AlgId> algorithms;
    int minimumStrength;
    AlgId cipher;    // 0: not checked
    AlgId hash;      // 0: not checked
    AlgId exchange;  // 0: not checked
};

class AlgorithmList : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(AlgorithmList, NarrowsWhatTheServerCanPick) {
    const ChoiceCase& c = GetParam();
    Link link(acquireCredentials(credentialOptions(c.mask, c.algorithms, c.minimumStrength)), rsaServer());
    ASSERT_EQ(link.handshake("localhost"), SEC_E_OK) << link.client.lastErrorText();
    auto info = link.client.connectionInfo();
    ASSERT_TRUE(info.has_value());
    if (c.cipher != 0) {
        EXPECT_EQ(info->cipher, c.cipher) << info->cipherSuiteName;
    }
    if (c.hash != 0) {
        EXPECT_EQ(info->hash, c.hash) << info->cipherSuiteName;
    }
    if (c.exchange != 0) {
        EXPECT_EQ(info->exchange, c.exchange) << info->cipherSuiteName;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lists, AlgorithmList,
    ::testing::Values(ChoiceCase{"aes128_only_tls12", 0xC00, {CALG_AES_128}, 0, CALG_AES_128, 0, 0},
                      ChoiceCase{"aes128_only_tls13", 0x3000, {CALG_AES_128}, 0, CALG_AES_128, 0, 0},
                      ChoiceCase{"rsa_key_exchange", 0xC00, {CALG_RSA_KEYX}, 0, 0, 0, CALG_RSA_KEYX},
                      ChoiceCase{"dhe_with_sha1", 0xC00, {CALG_DH_EPHEM, CALG_SHA1}, 0, 0, CALG_SHA1, CALG_DH_EPHEM},
                      ChoiceCase{"sha384_on_tls13", 0x3000, {CALG_SHA_384}, 0, CALG_AES_256, CALG_SHA_384, 0},
                      ChoiceCase{"strength_256_on_tls12", 0xC00, {}, 256, 0, 0, 0},
                      ChoiceCase{"master_secret_ids_are_skipped",
                                 0xC00,
                                 {0x4c06 /* CALG_TLS1_MASTER */, CALG_AES_256},
                                 0,
                                 CALG_AES_256,
                                 0,
                                 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(AlgorithmList, MinimumStrengthKeepsOutWeakerSuites) {
    Link link(acquireCredentials(credentialOptions(0xC00, {}, 256)), rsaServer());
    ASSERT_EQ(link.handshake("localhost"), SEC_E_OK);
    EXPECT_GE(link.client.connectionInfo()->cipherStrength, 256);
}

struct RefusedCase {
    const char* name;
    std::uint32_t protocols;
    std::vector<AlgId> algorithms;
    int minimumStrength;
};

class CredentialRefusal : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(CredentialRefusal, SaysAlgorithmMismatch) {
    std::shared_ptr<TlsCredentials> credentials;
    const RefusedCase& c = GetParam();
    EXPECT_EQ(TlsCredentials::acquire(credentialOptions(c.protocols, c.algorithms, c.minimumStrength), credentials),
              SEC_E_ALGORITHM_MISMATCH);
    EXPECT_EQ(credentials, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Options, CredentialRefusal,
                         ::testing::Values(RefusedCase{"ssl2_only", 0xC, {}, 0}, RefusedCase{"pct1_only", 0x3, {}, 0},
                                           RefusedCase{"strength_beyond_any_suite", 0, {}, 512},
                                           RefusedCase{"tls13_with_3des_only", 0x3000, {CALG_3DES}, 0}),
                         [](const auto& p) { return std::string(p.param.name); });

struct NameCase {
    const char* target;
    const char* sent;
};

class ServerNameIndication : public ::testing::TestWithParam<NameCase> {};

TEST_P(ServerNameIndication, GoesOutOnlyForDnsNames) {
    Link link(acquireCredentials(credentialOptions(0)), rsaServer());
    ASSERT_EQ(link.handshake(GetParam().target), SEC_E_OK);
    EXPECT_EQ(link.server.serverName(), GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(Targets, ServerNameIndication,
                         ::testing::Values(NameCase{"localhost", "localhost"},
                                           NameCase{"relay.example.test", "relay.example.test"},
                                           NameCase{"127.0.0.1", ""}, NameCase{"::1", ""}, NameCase{"[::1]", ""}));

struct AlpnCase {
    const char* name;
    std::vector<std::string> offered;
    std::vector<std::string> spoken;
    const char* agreed;
};

class Alpn : public ::testing::TestWithParam<AlpnCase> {};

TEST_P(Alpn, ReportsTheServersChoice) {
    const AlpnCase& c = GetParam();
    ServerOptions options;
    options.alpn = c.spoken;
    ServerConfig config(TestPki::get().rsaLeaf, {}, options);
    Link link(acquireCredentials(credentialOptions(0, {}, 0, c.offered)), config);
    ASSERT_EQ(link.handshake("localhost"), SEC_E_OK);
    EXPECT_EQ(link.client.connectionInfo()->alpn, c.agreed);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, Alpn,
    ::testing::Values(AlpnCase{"server_picks_its_first", {"chat", "http/1.1"}, {"http/1.1", "chat"}, "http/1.1"},
                      AlpnCase{"empty_entries_dropped", {"", "chat"}, {"chat"}, "chat"},
                      AlpnCase{"none_offered", {}, {"chat"}, ""}, AlpnCase{"server_without_alpn", {"chat"}, {}, ""}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Alpn, NoCommonProtocolFailsTheHandshake) {
    ServerOptions options;
    options.alpn = {"mqtt"};
    ServerConfig config(TestPki::get().rsaLeaf, {}, options);
    Link link(acquireCredentials(credentialOptions(0, {}, 0, {"chat"})), config);
    EXPECT_EQ(link.handshake("localhost"), SEC_E_APPLICATION_PROTOCOL_MISMATCH);
}

class ByMask : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(ByMask, HandshakeSurvivesOneByteReads) {
    Link link(acquireCredentials(credentialOptions(GetParam())), rsaServer());
    ASSERT_EQ(link.handshake("localhost", 1), SEC_E_OK);
    // Every byte short of a record asked for more, and said how much.
    EXPECT_GT(std::count(link.handshakeStatuses.begin(), link.handshakeStatuses.end(), SEC_E_INCOMPLETE_MESSAGE), 100);
    link.sendToServer(link.client.encrypt(bytesOf("ping")).records);
    EXPECT_EQ(link.server.received(), "ping");
}

TEST_P(ByMask, RecordSplitAcrossReadsDecryptsOnceComplete) {
    Link link(acquireCredentials(credentialOptions(GetParam())), rsaServer());
    ASSERT_EQ(link.handshake("localhost"), SEC_E_OK);
    std::string ignored;
    ASSERT_EQ(link.decryptAll(ignored), SEC_E_OK);  // tickets, if any

    std::vector<std::uint8_t> record = link.server.send("hello there");
    link.pending.assign(record.begin(), record.begin() + 3);
    DecryptResult first = link.decryptOnce();
    EXPECT_EQ(first.status, SEC_E_INCOMPLETE_MESSAGE);
    EXPECT_EQ(first.consumed, 0u);
    EXPECT_EQ(first.missing, 2u);  // the rest of the header
    link.pending.insert(link.pending.end(), record.begin() + 3, record.end() - 1);
    DecryptResult second = link.decryptOnce();
    EXPECT_EQ(second.status, SEC_E_INCOMPLETE_MESSAGE);
    EXPECT_EQ(second.missing, 1u);
    link.pending.push_back(record.back());
    DecryptResult third = link.decryptOnce();
    EXPECT_EQ(third.status, SEC_E_OK);
    EXPECT_EQ(std::string(third.plaintext.begin(), third.plaintext.end()), "hello there");
    EXPECT_EQ(third.consumed, record.size());
    EXPECT_EQ(third.extra, 0u);
}

TEST_P(ByMask, TwoRecordsInOneReadComeOutOneByOne) {
    Link link(acquireCredentials(credentialOptions(GetParam())), rsaServer());
    ASSERT_EQ(link.handshake("localhost"), SEC_E_OK);
    std::string ignored;
    ASSERT_EQ(link.decryptAll(ignored), SEC_E_OK);
    link.deliver(link.server.send("one"));
    link.deliver(link.server.send("two"));
    DecryptResult first = link.decryptOnce();
    ASSERT_EQ(first.status, SEC_E_OK);
    EXPECT_EQ(std::string(first.plaintext.begin(), first.plaintext.end()), "one");
    EXPECT_GT(first.extra, 0u);
    DecryptResult second = link.decryptOnce();
    ASSERT_EQ(second.status, SEC_E_OK);
    EXPECT_EQ(std::string(second.plaintext.begin(), second.plaintext.end()), "two");
    EXPECT_EQ(second.extra, 0u);
}

// A record opened into a room: what fits goes there, the rest follows in
// the plaintext, and the two together are the record's plaintext.
TEST_P(ByMask, ARecordOpenedIntoARoomKeepsWhatDoesNotFitBehindIt) {
    Link link(acquireCredentials(credentialOptions(GetParam())), rsaServer());
    ASSERT_EQ(link.handshake("localhost"), SEC_E_OK);
    std::string ignored;
    ASSERT_EQ(link.decryptAll(ignored), SEC_E_OK);
    std::string sent(5000, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>('a' + i * 7 % 26);
    for (const std::size_t roomSize :
         {std::size_t{1}, std::size_t{100}, sent.size() - 1, sent.size(), std::size_t{65536}}) {
        SCOPED_TRACE(roomSize);
        link.deliver(link.server.send(sent));
        link.deliver(link.server.send("next"));
        std::vector<std::uint8_t> room(roomSize, 0xEE);
        DecryptResult first = link.decryptOnce(room);
        ASSERT_EQ(first.status, SEC_E_OK);
        ASSERT_EQ(first.placed, std::min(roomSize, sent.size()));
        EXPECT_TRUE(std::all_of(room.begin() + static_cast<std::ptrdiff_t>(first.placed), room.end(),
                                [](std::uint8_t b) { return b == 0xEE; }));
        EXPECT_EQ(std::string(room.begin(), room.begin() + static_cast<std::ptrdiff_t>(first.placed)) +
                      std::string(first.plaintext.begin(), first.plaintext.end()),
                  sent);
        EXPECT_GT(first.extra, 0u);  // the next record is left for the next call
        DecryptResult second = link.decryptOnce();
        ASSERT_EQ(second.status, SEC_E_OK);
        EXPECT_EQ(std::string(second.plaintext.begin(), second.plaintext.end()), "next");
    }
}

// An error some other code left on the thread's queue is not taken for a
// failure of the next record call, nor does it hide the server's close.
TEST_P(ByMask, ErrorsLeftOnTheQueueByOthersFailNoRecord) {
    Link link(acquireCredentials(credentialOptions(GetParam())), rsaServer());
    ASSERT_EQ(link.handshake("localhost"), SEC_E_OK);
    auto leaveAnError = [] { ERR_raise(ERR_LIB_SSL, SSL_R_BAD_LENGTH); };
    std::string text;
    leaveAnError();
    ASSERT_EQ(link.decryptAll(text), SEC_E_OK);
    leaveAnError();
    const EncryptResult sealed = link.client.encrypt(bytesOf("ping"));
    ASSERT_EQ(sealed.status, SEC_E_OK);
    link.sendToServer(sealed.records);
    EXPECT_EQ(link.server.received(), "ping");
    link.deliver(link.server.send("pong"));
    link.deliver(link.server.closeNotify());
    leaveAnError();
    EXPECT_EQ(link.decryptAll(text), SEC_I_CONTEXT_EXPIRED);
    EXPECT_EQ(text, "pong");
    ERR_clear_error();
}

TEST_P(ByMask, LargeSendIsCutIntoRecordsWithinTheStreamSizes) {
    Link link(acquireCredentials(credentialOptions(GetParam())), rsaServer());
    ASSERT_EQ(link.handshake("localhost"), SEC_E_OK);
    StreamSizes sizes = link.client.streamSizes();
    EXPECT_EQ(sizes.header, 5u);
    EXPECT_EQ(sizes.maximumMessage, 16384u);
    std::string message(40000, 'x');
    for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<char>('a' + i % 26);
    EncryptResult sent = link.client.encrypt(bytesOf(message));
    ASSERT_EQ(sent.status, SEC_E_OK);
    std::size_t records = 0;
    for (std::size_t at = 0; at < sent.records.size(); ++records) {
        RecordScan scan = scanRecord(std::span(sent.records).subspan(at));
        ASSERT_EQ(scan.kind, RecordScan::Kind::Complete);
        EXPECT_LE(scan.length, sizes.header + sizes.maximumMessage + sizes.trailer);
        at += scan.length;
    }
    EXPECT_EQ(records, 3u);
    link.sendToServer(sent.records);
    EXPECT_EQ(link.server.received(), message);
}

TEST_P(ByMask, ServerCloseNotifyExpiresTheContextAndWeAnswer) {
    Link link(acquireCredentials(credentialOptions(GetParam())), rsaServer());
    ASSERT_EQ(link.handshake("localhost"), SEC_E_OK);
    std::string ignored;
    ASSERT_EQ(link.decryptAll(ignored), SEC_E_OK);
    link.deliver(link.server.send("last words"));
    link.deliver(link.server.closeNotify());
    std::string text;
    EXPECT_EQ(link.decryptAll(text), SEC_I_CONTEXT_EXPIRED);
    EXPECT_EQ(text, "last words");
    TokenResult bye = link.client.shutdown();
    EXPECT_EQ(bye.status, SEC_E_OK);
    ASSERT_FALSE(bye.token.empty());
    link.sendToServer(bye.token);
    EXPECT_TRUE(link.server.peerClosed());
    EXPECT_EQ(link.client.encrypt(bytesOf("too late")).status, SEC_E_INVALID_HANDLE);
}

TEST_P(ByMask, OurCloseNotifyReachesTheServer) {
    Link link(acquireCredentials(credentialOptions(GetParam())), rsaServer());
    ASSERT_EQ(link.handshake("localhost"), SEC_E_OK);
    TokenResult bye = link.client.shutdown();
    ASSERT_EQ(bye.status, SEC_E_OK);
    link.sendToServer(bye.token);
    EXPECT_TRUE(link.server.peerClosed());
    EXPECT_FALSE(link.server.failed());
}

TEST_P(ByMask, SecondConnectionWithTheSameCredentialsResumes) {
    ServerConfig config(TestPki::get().rsaLeaf, {});
    auto credentials = acquireCredentials(credentialOptions(GetParam()));
    {
        Link first(credentials, config);
        ASSERT_EQ(first.handshake("localhost"), SEC_E_OK);
        std::string ignored;
        // TLS 1.3 tickets arrive after the handshake and carry no plaintext.
        ASSERT_EQ(first.decryptAll(ignored), SEC_E_OK);
        EXPECT_TRUE(ignored.empty());
        EXPECT_FALSE(first.client.connectionInfo()->sessionReused);
    }
    Link second(credentials, config);
    ASSERT_EQ(second.handshake("localhost"), SEC_E_OK);
    auto info = second.client.connectionInfo();
    EXPECT_TRUE(info->sessionReused);
    EXPECT_TRUE(SSL_session_reused(second.server.ssl()));
    // The leaf is still known without a certificate message.
    ASSERT_FALSE(info->serverChain.empty());
    EXPECT_EQ(info->serverChain.front(), TestPki::get().rsaLeaf.der());

    Link otherTarget(credentials, config);
    ASSERT_EQ(otherTarget.handshake("127.0.0.1"), SEC_E_OK);
    EXPECT_FALSE(otherTarget.client.connectionInfo()->sessionReused);
}

INSTANTIATE_TEST_SUITE_P(Versions, ByMask, ::testing::Values(0xC00u, 0x3000u),
                         [](const auto& p) { return p.param == 0xC00u ? "tls12" : "tls13"; });

TEST(ConnectionInfo, CarriesTheServerChainLeafFirst) {
    const auto& pki = TestPki::get();
    testing::Issued intermediate = testing::issue(testing::caRequest({{"CN", "Test Intermediate"}}, 10), &pki.ca);
    testing::Issued leaf = testing::issue(testing::leafRequest("localhost", "DNS:localhost", 11), &intermediate);
    ServerConfig config(leaf, {&intermediate});
    Link link(acquireCredentials(credentialOptions(0)), config);
    ASSERT_EQ(link.handshake("localhost"), SEC_E_OK);
    auto info = link.client.connectionInfo();
    ASSERT_EQ(info->serverChain.size(), 2u);
    EXPECT_EQ(info->serverChain[0], leaf.der());
    EXPECT_EQ(info->serverChain[1], intermediate.der());
}

TEST(ConnectionInfo, IsNotThereBeforeTheHandshakeEnds) {
    Link link(acquireCredentials(credentialOptions(0)), rsaServer());
    EXPECT_FALSE(link.client.connectionInfo().has_value());
    TokenResult hello = link.client.initialize("localhost", {});
    EXPECT_EQ(hello.status, SEC_I_CONTINUE_NEEDED);
    EXPECT_FALSE(hello.token.empty());
    EXPECT_FALSE(link.client.connectionInfo().has_value());
}

TEST(Handshake, ServerCertificateNeverFailsIt) {
    // Self-signed and for another name: the check comes after the handshake.
    testing::Issued stranger = testing::issue(testing::leafRequest("elsewhere.test", "DNS:elsewhere.test", 20));
    ServerConfig config(stranger, {});
    Link link(acquireCredentials(credentialOptions(0)), config);
    EXPECT_EQ(link.handshake("localhost"), SEC_E_OK);
}

TEST(Handshake, ClientCertificateRequestIsAnsweredWithoutOne) {
    ServerOptions options = serverVersions(0, TLS1_2_VERSION);
    options.requestClientCertificate = true;
    ServerConfig config(TestPki::get().rsaLeaf, {}, options);
    Link link(acquireCredentials(credentialOptions(0)), config);
    EXPECT_EQ(link.handshake("localhost"), SEC_E_OK);
    EXPECT_TRUE(link.client.clientCertificateRequested());
}

struct FailureCase {
    const char* name;
    std::uint32_t clientMask;
    int serverMin;
    int serverMax;
    SecStatus expected;
};

class HandshakeFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(HandshakeFailure, MapsToThePlatformsStatus) {
    const FailureCase& c = GetParam();
    ServerConfig config(TestPki::get().rsaLeaf, {}, serverVersions(c.serverMin, c.serverMax));
    Link link(acquireCredentials(credentialOptions(c.clientMask)), config);
    EXPECT_EQ(link.handshake("localhost"), c.expected) << link.client.lastErrorText();
    EXPECT_FALSE(link.client.lastErrorText().empty());
    EXPECT_FALSE(link.client.connectionInfo().has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HandshakeFailure,
    ::testing::Values(FailureCase{"server_only_tls13", 0xC00, TLS1_3_VERSION, 0, SEC_E_ALGORITHM_MISMATCH},
                      FailureCase{"server_only_tls12", 0x3000, 0, TLS1_2_VERSION, SEC_E_ALGORITHM_MISMATCH}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(HandshakeFailure, BytesThatAreNotTlsAreAnIllegalMessage) {
    auto credentials = acquireCredentials(credentialOptions(0));
    TlsContext client(credentials);
    ASSERT_EQ(client.initialize("localhost", {}).status, SEC_I_CONTINUE_NEEDED);
    std::vector<std::uint8_t> reply = bytesOf("HTTP/1.1 400 Bad Request\r\n\r\n");
    TokenResult result = client.initialize("localhost", reply);
    EXPECT_EQ(result.status, SEC_E_ILLEGAL_MESSAGE);
    EXPECT_EQ(client.initialize("localhost", reply).status, SEC_E_INVALID_HANDLE);
}

TEST(HandshakeFailure, TamperedServerRecordIsRefused) {
    Link link(acquireCredentials(credentialOptions(0x3000)), rsaServer());
    TokenResult hello = link.client.initialize("localhost", {});
    std::vector<std::uint8_t> flight = link.server.take(hello.token);
    flight.back() ^= 0x01;  // inside the encrypted part of the server's flight
    TokenResult result = link.client.initialize("localhost", flight);
    EXPECT_TRUE(secFailed(result.status));
    EXPECT_EQ(result.status, SEC_E_DECRYPT_FAILURE) << link.client.lastErrorText();
    EXPECT_FALSE(result.token.empty());  // the alert for the server
}

class Renegotiation : public ::testing::Test {
protected:
    Renegotiation()
        : config_(TestPki::get().rsaLeaf, {}, serverVersions(0, TLS1_2_VERSION)),
          link_(acquireCredentials(credentialOptions(0xC00)), config_) {}

    // Up to the point where the client has reported the server's request.
    void requestRenegotiation() {
        ASSERT_EQ(link_.handshake("localhost"), SEC_E_OK);
        link_.deliver(link_.server.requestRenegotiation());
        DecryptResult result = link_.decryptOnce();
        ASSERT_EQ(result.status, SEC_I_RENEGOTIATE);
        EXPECT_EQ(result.consumed, 0u);  // the HelloRequest waits for the decision
        EXPECT_TRUE(link_.client.renegotiationRequested());
        EXPECT_EQ(link_.client.decrypt(link_.pending).status, SEC_I_RENEGOTIATE);
        // Sending the HelloRequest counts as a (tiny) handshake of the server's.
        handshakesBefore_ = link_.server.handshakesCompleted();
    }

    int handshakesBefore_ = 0;

    ServerConfig config_;
    Link link_;
};

TEST_F(Renegotiation, AcceptedRunsANewHandshakeThroughInitialize) {
    requestRenegotiation();
    std::vector<SecStatus> statuses;
    TokenResult step = link_.client.initialize("localhost", link_.pending);
    for (int round = 0; round < 10; ++round) {
        statuses.push_back(step.status);
        link_.pending.erase(link_.pending.begin(), link_.pending.begin() + static_cast<long>(step.consumed));
        if (!step.token.empty()) link_.sendToServer(step.token);
        if (step.status != SEC_I_CONTINUE_NEEDED) break;
        step = link_.client.initialize("localhost", link_.pending);
    }
    ASSERT_EQ(statuses.back(), SEC_E_OK);
    EXPECT_EQ(statuses.front(), SEC_I_CONTINUE_NEEDED);
    EXPECT_TRUE(link_.client.established());
    EXPECT_EQ(link_.server.handshakesCompleted(), handshakesBefore_ + 1);
    link_.sendToServer(link_.client.encrypt(bytesOf("after")).records);
    EXPECT_EQ(link_.server.received(), "after");
    link_.deliver(link_.server.send("back"));
    std::string text;
    EXPECT_EQ(link_.decryptAll(text), SEC_E_OK);
    EXPECT_EQ(text, "back");
}

TEST_F(Renegotiation, RefusedSendsTheNoRenegotiationWarning) {
    requestRenegotiation();
    TokenResult refusal = link_.client.refuseRenegotiation(link_.pending);
    ASSERT_EQ(refusal.status, SEC_E_OK);
    EXPECT_GT(refusal.consumed, 0u);
    ASSERT_FALSE(refusal.token.empty());
    link_.pending.erase(link_.pending.begin(), link_.pending.begin() + static_cast<long>(refusal.consumed));
    EXPECT_TRUE(link_.client.established());
    link_.server.take(refusal.token);
    ASSERT_FALSE(link_.server.alertsReceived().empty());
    EXPECT_EQ(link_.server.alertsReceived().front(), (SSL3_AL_WARNING << 8) | SSL_AD_NO_RENEGOTIATION);
    EXPECT_EQ(link_.server.handshakesCompleted(), handshakesBefore_);
}

TEST_F(Renegotiation, RefusalWithoutARequestIsNoOp) {
    ASSERT_EQ(link_.handshake("localhost"), SEC_E_OK);
    std::vector<std::uint8_t> record = link_.server.send("data");
    TokenResult refusal = link_.client.refuseRenegotiation(record);
    EXPECT_EQ(refusal.status, SEC_E_INVALID_HANDLE);
    EXPECT_EQ(refusal.consumed, 0u);
}

// The input OpenSSL reads from against a plain queue: lent pieces, reads of
// any size, and calls that end with bytes unread (whose buffer the caller
// then overwrites) keep every byte in order.
TEST(CiphertextInput, KeepsOrderAcrossLendsReadsAndCallEnds) {
    std::mt19937 random(7);
    CiphertextInput input;
    std::deque<std::uint8_t> model;
    std::uint8_t next = 0;
    for (int call = 0; call < 400; ++call) {
        std::vector<std::uint8_t> lent(random() % 40);
        for (auto& byte : lent) model.push_back(byte = next++);
        input.lend(lent);
        for (int reads = static_cast<int>(random() % 4); reads > 0; --reads) {
            std::uint8_t out[64];
            const std::size_t got = input.read(out, random() % sizeof out);
            ASSERT_LE(got, model.size());
            for (std::size_t i = 0; i < got; ++i, model.pop_front()) ASSERT_EQ(out[i], model.front());
        }
        input.keepUnread();
        std::fill(lent.begin(), lent.end(), 0xEE);
        ASSERT_EQ(input.pending(), model.size());
    }
}

}  // namespace
}  // namespace platform::security
