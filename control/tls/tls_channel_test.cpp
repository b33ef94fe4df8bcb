// The secure channel on the in-memory stream, against an OpenSSL server
// driven in memory: the handshake and its commentary, the certificate
// verdicts, records cut and joined every way, renegotiation, close_notify
// and the faults of the stream below.
#include "control/tls/tls_channel.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control/engine/test_stream.h"
#include "control/websocket/recording_events.h"
#include "platform/security/memory_tls_server.h"
#include "platform/security/test_pki.h"

namespace morvane {
namespace {

namespace st = platform::security::testing;
using testing::TestStream;

std::string text(std::span<const std::uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }
std::span<const std::uint8_t> bytes(std::string_view data) {
    return {reinterpret_cast<const std::uint8_t*>(data.data()), data.size()};
}

struct Pki {
    st::Issued ca = st::issue(st::caRequest({{"CN", "Test Root"}}, 1));
    st::Issued leaf = st::issue(st::leafRequest("localhost", "DNS:localhost,IP:127.0.0.1", 2), &ca);
    st::Issued otherHost = st::issue(st::leafRequest("other.test", "DNS:other.test", 3), &ca);
    st::Issued selfSigned = st::issue(st::leafRequest("localhost", "DNS:localhost", 4));
    st::Issued intermediate = st::issue(st::caRequest({{"CN", "Test Intermediate"}}, 5), &ca);
    st::Issued chainedLeaf = st::issue(st::leafRequest("localhost", "DNS:localhost", 6), &intermediate);

    static const Pki& get() {
        static const Pki pki;
        return pki;
    }
};

// The layer above, as far as the channel can tell.
class Above final : public StreamListener {
public:
    std::vector<int> connects;
    std::vector<std::string> pieces;
    std::vector<int> closes;
    int ready = 0;
    // Run for each piece, as a handler that pumps messages would.
    std::function<void(const std::string&)> onPiece;
    std::vector<std::uint8_t> room;

    void streamConnected(int code) override { connects.push_back(code); }
    int streamReceived(std::span<const std::uint8_t> data, bool) override {
        pieces.push_back(text(data));
        if (onPiece) onPiece(pieces.back());
        return 0;
    }
    // Room for bytes put in place, as a layer collecting a large payload
    // offers it; none while roomSize is 0. What is put there is a piece too.
    std::size_t roomSize = 0;
    std::size_t placed = 0;
    std::span<std::uint8_t> receiveRoom() override {
        room.assign(roomSize, 0);
        return room;
    }
    int receivedInPlace(std::size_t count) override {
        placed += count;
        return streamReceived(std::span(room).first(count), false);
    }
    void streamReadyToSend() override { ++ready; }
    void streamClosed(int code, const std::string&) override { closes.push_back(code); }
    std::string received() const {
        std::string all;
        for (const auto& piece : pieces) all += piece;
        return all;
    }
};

st::ServerOptions withAlpn(std::string protocol) {
    st::ServerOptions options;
    options.alpn = {std::move(protocol)};
    return options;
}

st::ServerOptions upToTls12() {
    st::ServerOptions options;
    options.maxVersion = TLS1_2_VERSION;
    return options;
}

class ChannelStack {
public:
    explicit ChannelStack(const st::Issued& leaf, st::ServerOptions options = {}, EngineEnvironment environment = {},
                          std::vector<const st::Issued*> intermediates = {})
        : context(environment), config(leaf, intermediates, std::move(options)) {
        std::filesystem::create_directories(certs.path() / "user" / "Root");
        st::writePem(certs.path() / "user" / "Root" / "ca.pem", Pki::get().ca.cert.get());
        channel.setListener(&above);
        context.setEventSink(&events);
        context.waiter().setTimeout(5);
        server = std::make_unique<st::MemoryTlsServer>(config);
        // The server answers whatever the channel writes.
        stream.setResponder([this](TestStream& peer, const std::string&) {
            const std::vector<std::uint8_t> answer = server->take(bytes(peer.takeWritten()));
            if (!answer.empty()) peer.peerSends(text(answer));
        });
    }
    ~ChannelStack() { context.setEventSink(nullptr); }

    int connect() {
        channel.setEnabled(true);
        if (const int code = channel.connect("localhost", 443)) return code;
        stream.play();
        return 0;
    }
    void fromServer(const std::vector<std::uint8_t>& records) {
        stream.peerSends(text(records));
        stream.play();
    }
    bool logged(std::string_view prefix) const {
        for (const auto& line : events.log) {
            if (line.starts_with(prefix)) return true;
        }
        return false;
    }

    st::TempFolder certs;
    st::EnvOverride userStores{"TALTRIX_CERT_USER_DIR", (certs.path() / "user").string()};
    st::EnvOverride machineStores{"TALTRIX_CERT_MACHINE_DIR", (certs.path() / "machine").string()};
    EngineContext context;
    TlsSettings settings;
    TestStream stream{context};
    TlsChannel channel{context, stream, settings, [] { return true; }};
    Above above;
    testing::RecordingEvents events;
    st::ServerConfig config;
    std::unique_ptr<st::MemoryTlsServer> server;
};

TEST(TlsChannelTest, ATrustedServerCompletesTheHandshakeWithItsCommentary) {
    ChannelStack stack(Pki::get().leaf);
    ASSERT_EQ(stack.connect(), 0);
    EXPECT_EQ(stack.above.connects, std::vector<int>{0});
    EXPECT_EQ(stack.channel.state(), TlsChannel::State::Established);
    EXPECT_TRUE(stack.channel.isConnected());
    EXPECT_EQ(stack.server->serverName(), "localhost");

    // The commentary, in order.
    const std::vector<std::string_view> expected = {
        "SSLStatus Attempting to connect to server.",
        "SSLStatus Socket connection established.",
        "SSLStatus Starting secure channel handshake.",
        "SSLStatus Enabling TLS versions: TLS1.2 TLS1.1 TLS1.0 ",
        "SSLStatus Cipher Suites:\r\n    TLS_",
        "SSLStatus Sending ",
        "SSLStatus Selected TLS Version: TLS1.2",
        "SSLStatus Selected Cipher Suite: TLS_ECDHE_ECDSA_WITH_",
        "SSLServerAuthentication CN=localhost|CN=Test Root|[0x0] OK|True",
        "SSLStatus Negotiated SSL parameters: Protocol: TLS1.2 Cipher: AES ",
        "Status SSL handshake complete. 0 OK",
    };
    std::size_t next = 0;
    for (const auto& line : stack.events.log) {
        if (next < expected.size() && line.starts_with(expected[next])) ++next;
    }
    EXPECT_EQ(next, expected.size()) << "missing or out of order: " << expected[std::min(next, expected.size() - 1)];
    EXPECT_TRUE(stack.settings.sslServerCertEncoded.starts_with("-----BEGIN CERTIFICATE-----\r\n"));
}

TEST(TlsChannelTest, AHandshakeReadAByteAtATime) {
    ChannelStack stack(Pki::get().leaf);
    stack.stream.setOneBytePerRead(true);
    ASSERT_EQ(stack.connect(), 0);
    EXPECT_EQ(stack.above.connects, std::vector<int>{0});
    EXPECT_TRUE(stack.logged("SSLStatus Selected TLS Version: TLS1.2"));
    ASSERT_EQ(stack.channel.send(bytes("after")), 0);
    EXPECT_EQ(stack.server->received(), "after");
}

TEST(TlsChannelTest, RecordsGoBothWaysCutAndJoinedAnyWay) {
    ChannelStack stack(Pki::get().leaf);
    ASSERT_EQ(stack.connect(), 0);
    ASSERT_EQ(stack.channel.send(bytes("hello")), 0);
    EXPECT_EQ(stack.server->received(), "hello");
    EXPECT_EQ(stack.stream.written(), "");  // the server took it all
    // A message of many sealing pieces arrives whole and in order.
    std::string large(300001, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>('a' + i % 23);
    std::size_t accepted = 0;
    ASSERT_EQ(stack.channel.send(bytes(large), &accepted), 0);
    EXPECT_EQ(accepted, large.size());
    EXPECT_EQ(stack.server->received(), "hello" + large);

    // Two records in one read: both come up in the same turn.
    std::vector<std::uint8_t> two = stack.server->send("one");
    const std::vector<std::uint8_t> second = stack.server->send("two");
    two.insert(two.end(), second.begin(), second.end());
    stack.stream.peerSends(text(two));
    stack.stream.play(1);
    EXPECT_EQ(stack.above.pieces, (std::vector<std::string>{"one", "two"}));

    // One record a byte at a time: one piece once its last byte is in.
    stack.stream.setOneBytePerRead(true);
    stack.fromServer(stack.server->send("split"));
    EXPECT_EQ(stack.above.pieces, (std::vector<std::string>{"one", "two", "split"}));

    // Held back while the layer above takes nothing, then delivered.
    stack.stream.setOneBytePerRead(false);
    stack.channel.setAcceptData(false);
    stack.fromServer(stack.server->send("later"));
    EXPECT_EQ(stack.above.received(), "onetwosplit");
    stack.channel.setAcceptData(true);
    stack.stream.play();
    EXPECT_EQ(stack.above.received(), "onetwosplitlater");
}

// Records are opened into the room the layer above offers, what does not fit
// goes up behind it, and a layer that pauses in between is offered none
// until it takes data again: nothing is lost or reordered.
TEST(TlsChannelTest, RecordsOpenedIntoTheRoomAboveKeepTheirOrder) {
    for (const std::size_t roomSize : {std::size_t{1}, std::size_t{4096}, std::size_t{16384}, std::size_t{65536}}) {
        for (const bool pause : {false, true}) {
            SCOPED_TRACE(::testing::Message() << roomSize << (pause ? " pausing" : ""));
            ChannelStack stack(Pki::get().leaf);
            ASSERT_EQ(stack.connect(), 0);
            std::string large(40000, '\0');
            for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>('a' + i * 5 % 26);
            stack.above.roomSize = roomSize;
            bool paused = false;
            if (pause) {
                stack.above.onPiece = [&](const std::string&) {
                    if (!std::exchange(paused, true)) stack.channel.setAcceptData(false);
                };
            }
            std::vector<std::uint8_t> records = stack.server->send(large);
            const std::vector<std::uint8_t> tail = stack.server->send("tail");
            records.insert(records.end(), tail.begin(), tail.end());
            stack.fromServer(records);
            if (pause) {
                EXPECT_EQ(stack.above.pieces.size(), 1u);
                stack.channel.setAcceptData(true);
                stack.stream.play();
            }
            EXPECT_EQ(stack.above.received(), large + "tail");
            EXPECT_GE(stack.above.placed, std::min(roomSize, large.size()));
        }
    }
}

// Records are opened where the layer below holds them. What a paused layer
// above leaves of a read, and a handshake that starts behind data, are kept
// and come in their turn.
TEST(TlsChannelTest, RecordsOpenedWhereTheyLieKeepTheirOrder) {
    ChannelStack stack(Pki::get().leaf, upToTls12());
    stack.settings.sslEnableRenegotiation = true;
    ASSERT_EQ(stack.connect(), 0);
    auto join = [](std::vector<std::vector<std::uint8_t>> parts) {
        std::vector<std::uint8_t> all;
        for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
        return all;
    };

    stack.above.onPiece = [&](const std::string& piece) {
        if (piece == "one") stack.channel.setAcceptData(false);
    };
    std::vector<std::uint8_t> read = join({stack.server->send("one"), stack.server->send("two")});
    const std::vector<std::uint8_t> third = stack.server->send("three");
    read.insert(read.end(), third.begin(), third.begin() + 7);  // and the head of a third
    stack.fromServer(read);
    EXPECT_EQ(stack.above.pieces, std::vector<std::string>{"one"});
    stack.above.onPiece = nullptr;
    stack.channel.setAcceptData(true);
    stack.fromServer({third.begin() + 7, third.end()});
    EXPECT_EQ(stack.above.pieces, (std::vector<std::string>{"one", "two", "three"}));

    const int handshakesBefore = stack.server->handshakesCompleted();
    stack.fromServer(join({stack.server->send("four"), stack.server->requestRenegotiation()}));
    EXPECT_EQ(stack.server->handshakesCompleted(), handshakesBefore + 2);
    stack.fromServer(stack.server->send("five"));
    EXPECT_EQ(stack.above.received(), "onetwothreefourfive");
}

TEST(TlsChannelTest, TheServerCertificateVerdicts) {
    const auto& pki = Pki::get();
    struct Case {
        std::string_view what;
        const st::Issued* leaf;
        std::int32_t securityFlags;
        bool handlerAccepts;
        bool preAccepted;
        std::string_view status;  // empty: no SSLServerAuthentication expected
        int outcome;
    };
    const std::string untrusted =
        "[0x800b0109] A certification chain processed correctly but terminated in a root certificate not trusted by "
        "the trust provider.";
    const std::string nameMismatch = "[0x800b010f] The certificate's CN name does not match the passed value.";
    const Case cases[] = {
        {"self-signed", &pki.selfSigned, 0, false, false, untrusted, 276},
        {"self-signed, accepted by the handler", &pki.selfSigned, 0, true, false, untrusted, 0},
        {"self-signed, accepted beforehand", &pki.selfSigned, 0, false, true, "", 0},
        {"another host", &pki.otherHost, 0, false, false, nameMismatch, 276},
        {"another host, name not checked", &pki.otherHost, -1, false, false, "[0x0] OK", 0},
    };
    for (const Case& c : cases) {
        ChannelStack stack(*c.leaf);
        stack.settings.sslSecurityFlags = c.securityFlags;
        if (c.preAccepted) stack.settings.sslAcceptServerCertEncoded = text(c.leaf->der());
        stack.events.onServerAuthentication = [&c](bool verdict) { return verdict || c.handlerAccepts; };
        ASSERT_EQ(stack.connect(), 0) << c.what;
        EXPECT_EQ(stack.above.connects, std::vector<int>{c.outcome}) << c.what;
        EXPECT_EQ(stack.logged("SSLServerAuthentication "), !c.status.empty()) << c.what;
        if (!c.status.empty()) {
            EXPECT_TRUE(stack.logged("SSLServerAuthentication CN=")) << c.what;
        }
        bool sawStatus = c.status.empty();
        for (const auto& line : stack.events.log) {
            if (line.find(std::string("|") + std::string(c.status) + "|") != std::string::npos) sawStatus = true;
        }
        EXPECT_TRUE(sawStatus) << c.what;
        const bool verdictBad = !c.status.empty() && c.status != "[0x0] OK";
        EXPECT_EQ(stack.logged("Error 280 error verifying server certificate: 0x800b01"), verdictBad) << c.what;
        if (c.outcome != 0) {
            EXPECT_EQ(stack.context.lastErrorText(), "Server certificate verification failed. Connection aborted.");
            EXPECT_TRUE(stack.logged("Status SSL handshake failed. 276")) << c.what;
            EXPECT_FALSE(stack.stream.isOpen()) << c.what;
        } else {
            EXPECT_TRUE(stack.channel.isConnected()) << c.what;
        }
    }
}

TEST(TlsChannelTest, ProtocolMaskAlgorithmListAndAlpn) {
    struct Case {
        std::int32_t protocols;
        std::string algorithms;
        std::string_view enabling;
        std::string_view selectedSuite;
    };
    const Case cases[] = {
        {3072, "", "SSLStatus Enabling TLS versions: TLS1.2 ", "SSLStatus Selected Cipher Suite: TLS_ECDHE_"},
        {3072, "CALG_AES_128; calg_sha_256 ; bogus", "SSLStatus Enabling TLS versions: TLS1.2 ",
         "SSLStatus Selected Cipher Suite: TLS_ECDHE_ECDSA_WITH_AES_128_"},
        {0x3000, "", "SSLStatus Enabling TLS versions: TLS1.3 ", "SSLStatus Selected Cipher Suite: Unknown (48"},
    };
    for (const Case& c : cases) {
        ChannelStack stack(Pki::get().leaf, withAlpn("chat"));
        stack.settings.sslEnabledProtocols = c.protocols;
        stack.settings.sslEnabledCipherSuites = c.algorithms;
        stack.settings.alpnExtension = "superchat,chat";
        ASSERT_EQ(stack.connect(), 0);
        EXPECT_EQ(stack.above.connects, std::vector<int>{0}) << c.protocols;
        EXPECT_TRUE(stack.logged(c.enabling)) << c.protocols;
        EXPECT_TRUE(stack.logged(c.selectedSuite)) << c.protocols << " " << c.algorithms;
        const unsigned char* alpn = nullptr;
        unsigned length = 0;
        SSL_get0_alpn_selected(stack.server->ssl(), &alpn, &length);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(alpn), length), "chat");
    }

    // A system too old for ALPN says so and goes on without it.
    ChannelStack old(Pki::get().leaf, withAlpn("chat"),
                     EngineEnvironment{.ansiCodePage = 1252, .systemMajorVersion = 6, .systemMinorVersion = 1});
    old.settings.alpnExtension = "chat";
    ASSERT_EQ(old.connect(), 0);
    EXPECT_EQ(old.above.connects, std::vector<int>{0});
    EXPECT_TRUE(old.logged("SSLStatus WARNING: The ALPN extension is not supported on this system."));
    const unsigned char* alpn = nullptr;
    unsigned length = 0;
    SSL_get0_alpn_selected(old.server->ssl(), &alpn, &length);
    EXPECT_EQ(length, 0u);
}

TEST(TlsChannelTest, RenegotiationIsFollowedOrRefused) {
    for (const bool follow : {true, false}) {
        ChannelStack stack(Pki::get().leaf, upToTls12());
        stack.settings.sslEnableRenegotiation = follow;
        ASSERT_EQ(stack.connect(), 0);
        const int handshakesBefore = stack.server->handshakesCompleted();
        stack.fromServer(stack.server->requestRenegotiation());
        EXPECT_FALSE(stack.channel.renegotiating()) << follow;
        // OpenSSL counts the HelloRequest it sends as a handshake of its own;
        // a renegotiation that is followed adds the real one.
        EXPECT_EQ(stack.server->handshakesCompleted(), handshakesBefore + (follow ? 2 : 1)) << follow;
        EXPECT_EQ(stack.logged("SSLStatus Renegotiate is disabled. Send NO_RENEGOTIATION alert message."), !follow);
        const auto& alerts = stack.server->alertsReceived();
        EXPECT_EQ(std::find(alerts.begin(), alerts.end(), (1 << 8) | 100) != alerts.end(), !follow) << follow;
        // Followed, the connection carries on under the new keys; the layer
        // above never hears of it. (Refused, it is the server's to decide.)
        EXPECT_EQ(stack.above.connects, std::vector<int>{0});
        if (!follow) continue;
        ASSERT_EQ(stack.channel.send(bytes("after")), 0);
        stack.stream.play();
        EXPECT_EQ(stack.server->received(), "after");
        stack.fromServer(stack.server->send("back"));
        EXPECT_EQ(stack.above.received(), "back");
    }
}

TEST(TlsChannelTest, TheServersCloseNotifyIsAnswered) {
    ChannelStack stack(Pki::get().leaf);
    ASSERT_EQ(stack.connect(), 0);
    stack.fromServer(stack.server->closeNotify());
    EXPECT_TRUE(stack.logged("SSLStatus Server signaled end of session."));
    EXPECT_TRUE(stack.server->peerClosed());

    // Our own close sends ours before the socket closes.
    ChannelStack own(Pki::get().leaf);
    ASSERT_EQ(own.connect(), 0);
    EXPECT_EQ(own.channel.close(), 0);
    EXPECT_TRUE(own.server->peerClosed());
    EXPECT_EQ(own.above.closes, std::vector<int>{0});
}

TEST(TlsChannelTest, FaultsBelowAndBrokenRecords) {
    {
        // The server goes away in the middle of the handshake.
        ChannelStack stack(Pki::get().leaf);
        stack.stream.setResponder([](TestStream& peer, const std::string&) {
            peer.takeWritten();
            peer.peerCloses(10054);
        });
        ASSERT_EQ(stack.connect(), 0);
        EXPECT_EQ(stack.above.connects, std::vector<int>{276});
        EXPECT_TRUE(stack.logged("Error 276 Server disconnected before handshake completion [0]."));
        EXPECT_TRUE(stack.logged("Status SSL handshake failed."));
        EXPECT_TRUE(stack.above.closes.empty());
    }
    {
        // A record that does not open ends the connection.
        ChannelStack stack(Pki::get().leaf);
        ASSERT_EQ(stack.connect(), 0);
        std::vector<std::uint8_t> record = stack.server->send("tampered");
        record.back() ^= 0x55;
        stack.fromServer(record);
        EXPECT_TRUE(stack.logged("Error 284 error decrypting data (error 0x800903"));
        EXPECT_FALSE(stack.stream.isOpen());
        EXPECT_EQ(stack.above.closes, std::vector<int>{284});
        EXPECT_TRUE(stack.above.received().empty());
    }
    {
        // A refused connect is the channel's failure too.
        ChannelStack stack(Pki::get().leaf);
        stack.stream.failConnect(1, 10061);
        ASSERT_EQ(stack.connect(), 0);
        EXPECT_EQ(stack.above.connects, std::vector<int>{10061});
        EXPECT_TRUE(stack.logged("Status Connection to host failed. 10061"));
        EXPECT_EQ(stack.channel.state(), TlsChannel::State::None);
    }
}

TEST(TlsChannelTest, TheEarlyLookChainsAndReuse) {
    {
        // ParseSSLServerCert: the certificate is offered from the raw
        // handshake, before the provider is done with it.
        for (const bool accept : {false, true}) {
            ChannelStack stack(Pki::get().leaf, upToTls12());
            stack.settings.parseSslServerCert = true;
            stack.events.onServerAuthentication = [accept](bool verdict) { return verdict || accept; };
            ASSERT_EQ(stack.connect(), 0);
            EXPECT_TRUE(stack.logged("SSLServerAuthentication CN=localhost|CN=Test Root|Parsed|False")) << accept;
            EXPECT_EQ(stack.above.connects, std::vector<int>{accept ? 0 : 276}) << accept;
            EXPECT_EQ(stack.logged("SSLServerAuthentication CN=localhost|CN=Test Root|[0x0] OK|True"), accept);
        }
    }
    {
        // SSLIncludeCertChain: every certificate the server sent.
        const auto& pki = Pki::get();
        ChannelStack stack(pki.chainedLeaf, {}, {}, {&pki.intermediate});
        stack.settings.sslIncludeCertChain = true;
        ASSERT_EQ(stack.connect(), 0);
        EXPECT_EQ(stack.above.connects, std::vector<int>{0});
        const std::string& encoded = stack.events.lastCertEncoded;
        EXPECT_EQ(encoded.find("-----END CERTIFICATE-----\r\n\r\n-----BEGIN CERTIFICATE-----\r\n") != std::string::npos,
                  true)
            << encoded;
        EXPECT_TRUE(stack.logged("SSLServerAuthentication CN=localhost|CN=Test Intermediate|[0x0] OK|True"));
    }
    {
        // ReuseSSLSession: the next connection resumes the session.
        for (const bool reuse : {false, true}) {
            ChannelStack stack(Pki::get().leaf, upToTls12());
            stack.settings.reuseSslSession = reuse;
            ASSERT_EQ(stack.connect(), 0);
            ASSERT_EQ(stack.channel.close(), 0);
            stack.server = std::make_unique<st::MemoryTlsServer>(stack.config);
            ASSERT_EQ(stack.connect(), 0);
            EXPECT_EQ(stack.above.connects, (std::vector<int>{0, 0}));
            EXPECT_EQ(SSL_session_reused(stack.server->ssl()) == 1, reuse) << reuse;
        }
    }
}

TEST(TlsChannelTest, ANameThatIsNoTextInTheCodePageMatchesNoCertificate) {
    ChannelStack stack(Pki::get().leaf);
    stack.context.setCodePage(65001);
    stack.channel.setEnabled(true);
    ASSERT_EQ(stack.channel.connect("local\xffhost", 443), 0);
    stack.stream.play();
    EXPECT_TRUE(stack.logged("Error 280 error verifying server certificate: 0x11d"));
    EXPECT_TRUE(
        stack.logged("SSLServerAuthentication CN=localhost|CN=Test Root|Server name does not match server "
                     "certificate.|False"));
    EXPECT_EQ(stack.above.connects, std::vector<int>{276});
}

TEST(TlsChannelTest, CredentialsThatCannotBeHadAndAClosedThatMustWait) {
    {
        ChannelStack stack(Pki::get().leaf);
        stack.settings.sslEnabledProtocols = 0xC;  // SSL 2.0 alone: nothing to offer
        EXPECT_EQ(stack.connect(), 273);
        EXPECT_TRUE(stack.context.lastErrorText().starts_with("Could not acquire security credentials: error -"));
        EXPECT_EQ(stack.stream.connects(), 0);
    }
    {
        // Records still queued and Linger: the close waits, and says how to
        // force it.
        ChannelStack stack(Pki::get().leaf);
        ASSERT_EQ(stack.connect(), 0);
        stack.stream.blockSends(2);
        EXPECT_EQ(stack.channel.send(bytes("queued")), 10035);
        EXPECT_EQ(stack.channel.close(), 10035);
        EXPECT_EQ(stack.context.lastErrorText(),
                  "Operation would block (to force disconnection, set Linger to FALSE).");
        EXPECT_TRUE(stack.channel.isConnected());
        stack.stream.play();  // writable again: the record goes out
        EXPECT_EQ(stack.server->received(), "queued");
        EXPECT_EQ(stack.channel.close(), 0);
        EXPECT_FALSE(stack.stream.isOpen());
    }
}

TEST(TlsChannelTest, SwitchedOffItPassesEverythingThrough) {
    ChannelStack stack(Pki::get().leaf);
    stack.stream.setResponder({});
    stack.stream.peerSends("plain");
    ASSERT_EQ(stack.channel.connect("localhost", 80), 0);
    stack.stream.play();
    ASSERT_EQ(stack.channel.send(bytes("as is")), 0);
    EXPECT_EQ(stack.stream.written(), "as is");
    EXPECT_EQ(stack.above.received(), "plain");
    EXPECT_FALSE(stack.logged("SSLStatus"));
}

}  // namespace
}  // namespace morvane
