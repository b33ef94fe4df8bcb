#include "control/transport/ntlm.h"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "control/transport/auth_token_log.h"
#include "control/websocket/test_random.h"

// gss-ntlmssp keeps the digests it fetches from OpenSSL and a part of every
// acceptor credential for the life of the process: its leaks, not ours. The
// slow unwinder follows their stacks through libcrypto to gss-ntlmssp.
extern "C" const char* __lsan_default_suppressions() { return "leak:gssntlmssp.so\n"; }
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }

namespace morvane::auth {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes fromHex(std::string_view hex) {
    Bytes out;
    for (std::size_t i = 0; i < hex.size(); ++i) {
        if (hex[i] != ' ') out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i++, 2)), 0, 16)));
    }
    return out;
}

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::uint32_t le32(const Bytes& in, std::size_t at) {
    return in[at] | in[at + 1] << 8 | in[at + 2] << 16 | static_cast<std::uint32_t>(in[at + 3]) << 24;
}

// The bytes a field descriptor of an authenticate message points at.
Bytes fieldOf(const Bytes& message, std::size_t descriptor) {
    const std::size_t length = message[descriptor] | message[descriptor + 1] << 8;
    const std::size_t offset = le32(message, descriptor + 4);
    return Bytes(message.begin() + offset, message.begin() + offset + length);
}
constexpr std::size_t kLmField = 12, kNtField = 20, kDomainField = 28, kUserField = 36, kWorkstationField = 44;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes utf16(std::u16string_view text) {
    Bytes out;
    for (char16_t c : text) out.insert(out.end(), {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8)});
    return out;
}

// --- Published values ---

TEST(Md4, Rfc1320SuiteAndBlockEdges) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
        {"a", "bde52cb31de33e46245e05fbdbd6fb24"},
        {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
        {"message digest", "d9130a8164549fe818874806e1c7014b"},
        {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "043f8582f241db351ce627e153e7f0e4"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "e33b4ddc9c38f2199c3e7b164fcc0536"},
        // Where the padding needs a second block, or none of the message's
        // own: values from OpenSSL's legacy MD4.
        {std::string(55, 'a'), "c889c81dd86c4d2e025778944ea02881"},
        {std::string(56, 'a'), "d5f9a9e9257077a5f08b0b92f348b0ad"},
        {std::string(64, 'a'), "52f5076fabd22680234a3fa9f9dc5732"},
    };
    for (const auto& [text, digest] : cases) {
        const NtlmHash h = md4(bytesOf(text));
        EXPECT_EQ(Bytes(h.begin(), h.end()), fromHex(digest)) << text.size() << " bytes: " << text;
    }
}

// MS-NLMP 4.2.4: user "User", domain "Domain", password "Password", server
// challenge 0123456789abcdef, client challenge aa..aa, time 0, and the
// challenge message with its target information (Domain, then Server).
constexpr std::string_view kPublishedChallenge =
    "4e544c4d53535000020000000c000c003800000033828ae20123456789abcdef00000000000000002400240044000000"
    "060070170000000f53006500720076006500720002000c0044006f006d00610069006e0001000c005300650072007600"
    "6500720000000000";
constexpr std::string_view kPublishedTargetInfo = "02000c0044006f006d00610069006e0001000c00530065007200760065007200";

TEST(NtlmPublishedValues, NtowfV2LmV2AndNtProofStr) {
    const auto key = ntowfV2(u"Password", u"User", u"Domain");
    ASSERT_TRUE(key);
    EXPECT_EQ(Bytes(key->begin(), key->end()), fromHex("0c868a403bfd7a93a3001ef22ef02e3f"));

    const auto parsed = parseNtlmChallenge(fromHex(kPublishedChallenge));
    ASSERT_TRUE(parsed.challenge) << parsed.error;
    EXPECT_FALSE(parsed.challenge->timestamp);
    EXPECT_EQ(parsed.challenge->targetInfo, fromHex(kPublishedTargetInfo));

    NtlmAuthenticateOptions options;
    options.clientChallenge = std::array<std::uint8_t, 8>{0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa};
    options.timestamp = 0;
    const auto auth =
        ntlmAuthenticateMessage(*parsed.challenge, {u"User", u"Domain", u"Password", u"COMPUTER"}, options);
    ASSERT_TRUE(auth.ok()) << auth.error;
    EXPECT_EQ(fieldOf(auth.message, kLmField), fromHex("86c35097ac9cec102554764a57cccc19aaaaaaaaaaaaaaaa"));
    const Bytes temp = fromHex("0101000000000000 0000000000000000 aaaaaaaaaaaaaaaa 00000000") +
                       fromHex(kPublishedTargetInfo) + fromHex("00000000 00000000");
    EXPECT_EQ(fieldOf(auth.message, kNtField), fromHex("68cd0ab851e51c96aabc927bebef6a1c") + temp);
    EXPECT_EQ(fieldOf(auth.message, kDomainField), utf16(u"Domain"));
    EXPECT_EQ(fieldOf(auth.message, kUserField), utf16(u"User"));
    EXPECT_EQ(fieldOf(auth.message, kWorkstationField), utf16(u"COMPUTER"));
}

// --- Our messages ---

TEST(NtlmNegotiate, LayoutAndFlags) {
    // Signature, type 1, the flags, empty domain and workstation fields that
    // point at the end, and a zero version.
    EXPECT_EQ(ntlmNegotiateMessage(),
              fromHex("4e544c4d53535000 01000000 078288a0 0000000028000000 0000000028000000 0000000000000000"));
}

// A challenge message: header, version room, then the target information.
Bytes challengeMessage(std::uint32_t type, std::uint32_t flags, const Bytes& targetInfo = {}) {
    Bytes m = bytesOf(std::string_view("NTLMSSP\0", 8));
    const auto put32 = [&m](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) m.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    const auto put16 = [&m](std::size_t v) {
        m.insert(m.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
    };
    put32(type);
    put16(0), put16(0), put32(56);  // no target name
    put32(flags);
    m.insert(m.end(), {1, 2, 3, 4, 5, 6, 7, 8});
    m.resize(m.size() + 8);
    put16(targetInfo.size()), put16(targetInfo.size()), put32(56);
    m.resize(56);
    return m + targetInfo;
}

TEST(NtlmChallengeParse, ChecksInOrderAndBounds) {
    using namespace ntlmflag;
    const Bytes withInfo = challengeMessage(2, kUnicode | kNtlm | kTargetInfo, fromHex(kPublishedTargetInfo));
    const auto patched = [](Bytes m, std::size_t at, std::initializer_list<std::uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), m.begin() + static_cast<std::ptrdiff_t>(at));
        return m;
    };
    const auto cut = [](Bytes m, std::size_t size) {
        m.resize(size);
        return m;
    };
    struct Case {
        const char* name;
        Bytes message;
        std::string_view error;  // empty: parsed
    };
    const Case cases[] = {
        {"empty", {}, kNtlmInvalidSignatureText},
        {"signature without its zero", bytesOf("NTLMSSP!"), kNtlmInvalidSignatureText},
        {"signature before type", patched(challengeMessage(3, 0), 0, {'n'}), kNtlmInvalidSignatureText},
        {"type cut short", bytesOf(std::string_view("NTLMSSP\0\2\0", 10)), kNtlmInvalidMessageTypeText},
        {"type before charset", challengeMessage(3, 0), kNtlmInvalidMessageTypeText},
        {"charset before version", challengeMessage(2, 0), kNtlmNoCharsetText},
        {"no version", challengeMessage(2, kOem | kAlwaysSign), kNtlmNoVersionText},
        {"header cut short", cut(challengeMessage(2, kUnicode | kNtlm), 24), kNtlmMalformedText},
        {"target info flag without its field", cut(challengeMessage(2, kUnicode | kNtlm | kTargetInfo), 40),
         kNtlmMalformedText},
        {"target name past the end", patched(challengeMessage(2, kUnicode | kNtlm), 12, {4, 0, 4, 0, 60}),
         kNtlmMalformedText},
        {"target info offset wraps", patched(withInfo, 44, {0xff, 0xff, 0xff, 0xff}), kNtlmMalformedText},
        {"target info longer than the message", patched(withInfo, 40, {0x30}), kNtlmMalformedText},
        {"entry longer than the list", patched(withInfo, 56 + 2, {0x40}), kNtlmMalformedText},
        {"unicode with NTLM", challengeMessage(2, kUnicode | kNtlm), {}},
        {"OEM with extended session security", challengeMessage(2, kOem | kExtendedSessionSecurity), {}},
        {"no target info field without its flag", cut(challengeMessage(2, kUnicode | kNtlm), 32), {}},
        {"list without end marker", withInfo, {}},
    };
    for (const auto& c : cases) {
        const auto result = parseNtlmChallenge(c.message);
        EXPECT_EQ(result.error, c.error) << c.name;
        EXPECT_EQ(result.challenge.has_value(), c.error.empty()) << c.name;
    }
}

TEST(NtlmChallengeParse, CharsetTimestampAndEntries) {
    using namespace ntlmflag;
    EXPECT_TRUE(parseNtlmChallenge(challengeMessage(2, kUnicode | kOem | kNtlm)).challenge->unicode);
    EXPECT_FALSE(parseNtlmChallenge(challengeMessage(2, kOem | kNtlm)).challenge->unicode);

    // Timestamp 0x0102030405060708, then the end marker and bytes after it.
    const Bytes entries = fromHex("02000200aa00 07000800 0807060504030201");
    const auto parsed =
        parseNtlmChallenge(challengeMessage(2, kUnicode | kNtlm | kTargetInfo, entries + fromHex("00000000ffff")));
    ASSERT_TRUE(parsed.challenge);
    EXPECT_EQ(parsed.challenge->timestamp, 0x0102030405060708u);
    EXPECT_EQ(parsed.challenge->targetInfo, entries);
    EXPECT_EQ(Bytes(parsed.challenge->serverChallenge.begin(), parsed.challenge->serverChallenge.end()),
              fromHex("0102030405060708"));
}

// The blob's target list: what follows the fixed 28 bytes after the proof,
// without the 4 trailing zero bytes.
Bytes blobTargetInfo(const Bytes& message) {
    const Bytes nt = fieldOf(message, kNtField);
    return Bytes(nt.begin() + 16 + 28, nt.end() - 4);
}

TEST(NtlmAuthenticate, TimeNonceBindingsAndCharset) {
    using namespace ntlmflag;
    const NtlmCredentials alice{u"J\u00fcrgen", u"EXAMPLE", u"secret"};
    const std::string bindingText = "tls-server-end-point:0123";
    const Bytes binding = bytesOf(bindingText);
    const auto hash = ntlmChannelBindingHash(binding);
    ASSERT_TRUE(hash);
    const Bytes bindingEntry = fromHex("0a001000") + Bytes(hash->begin(), hash->end());
    const Bytes serverEntries = fromHex("01000200aa00 0a000100ee 07000800 0807060504030201");
    const Bytes serverEntriesWithoutBinding = fromHex("01000200aa00 07000800 0807060504030201");

    NtlmChallenge withTime =
        *parseNtlmChallenge(challengeMessage(2, kUnicode | kNtlm | kTargetInfo, serverEntries)).challenge;
    NtlmChallenge plain = *parseNtlmChallenge(challengeMessage(2, kOem | kNtlm)).challenge;

    websocket::CountingRandom random;
    NtlmAuthenticateOptions options;
    options.random = &random;
    options.channelBindingData = binding;

    // The server's time, and no LM response beside it; a binding that
    // replaces the one the server put in the list.
    auto auth = ntlmAuthenticateMessage(withTime, alice, options);
    ASSERT_TRUE(auth.ok()) << auth.error;
    EXPECT_EQ(fieldOf(auth.message, kLmField), Bytes(24, 0));
    const Bytes nt = fieldOf(auth.message, kNtField);
    EXPECT_EQ(Bytes(nt.begin() + 16 + 8, nt.begin() + 16 + 24), fromHex("0807060504030201 0001020304050607"));
    EXPECT_EQ(blobTargetInfo(auth.message), serverEntriesWithoutBinding + bindingEntry + Bytes(4, 0));
    EXPECT_EQ(fieldOf(auth.message, kUserField), utf16(u"J\u00fcrgen"));
    EXPECT_EQ(le32(auth.message, 60) & (kUnicode | kOem | kTargetInfo), kUnicode | kTargetInfo);

    // No target information: NTLMv2 over an empty list, an LMv2 response,
    // the names in the OEM code page (437: u-umlaut is 0x81).
    options.channelBindingData.reset();
    options.timestamp = 42;
    auth = ntlmAuthenticateMessage(plain, alice, options);
    ASSERT_TRUE(auth.ok()) << auth.error;
    EXPECT_EQ(blobTargetInfo(auth.message), Bytes(4, 0));
    EXPECT_EQ(fieldOf(auth.message, kNtField)[16 + 8], 42);
    const Bytes lm = fieldOf(auth.message, kLmField);
    EXPECT_EQ(Bytes(lm.begin() + 16, lm.end()), fromHex("08090a0b0c0d0e0f"));
    EXPECT_EQ(fieldOf(auth.message, kUserField), fromHex("4a817267656e"));
    EXPECT_EQ(le32(auth.message, 60) & (kUnicode | kOem | kTargetInfo), kOem);
}

TEST(NtlmAuthenticate, BuildingFailures) {
    using namespace ntlmflag;
    // No random bytes for the client nonce.
    websocket::CountingRandom failing;
    failing.fail = true;
    NtlmAuthenticateOptions options;
    options.random = &failing;
    const NtlmChallenge plain = *parseNtlmChallenge(challengeMessage(2, kUnicode | kNtlm)).challenge;
    EXPECT_EQ(ntlmAuthenticateMessage(plain, {u"u", u"d", u"p"}, options).error, kNtlmBlobText);

    // Target information as long as a challenge can carry: the blob around
    // it no longer fits the response's 16-bit length.
    const Bytes entries = fromHex("0100f7ff") + Bytes(0xfff7, 'x');
    const auto big = parseNtlmChallenge(challengeMessage(2, kUnicode | kNtlm | kTargetInfo, entries));
    ASSERT_TRUE(big.challenge) << big.error;
    options.clientChallenge = std::array<std::uint8_t, 8>{};
    const auto result = ntlmAuthenticateMessage(*big.challenge, {u"u", u"d", u"p"}, options);
    EXPECT_EQ(result.error, kNtlmBlobText);
    EXPECT_TRUE(result.message.empty());
}

// With OpenSSL configured to offer no MD5 (only its base provider), in a
// process of its own so that the setting is read before anything else.
TEST(NtlmAuthenticate, CryptoWithoutMd5) {
    const std::string conf = ::testing::TempDir() + "ntlm_no_md5.cnf";
    std::ofstream(conf) << "openssl_conf = init\n[init]\nproviders = providers\n"
                           "[providers]\nbase = base\n[base]\nactivate = 1\n";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("OPENSSL_CONF", conf.c_str(), 1);
            const NtlmChallenge plain = *parseNtlmChallenge(challengeMessage(2, 0x201)).challenge;
            const auto result = ntlmAuthenticateMessage(plain, {u"u", u"d", u"p"});
            std::_Exit(result.error == kNtlmHmacText && !ntlmChannelBindingHash(bytesOf("x")) ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(NtlmUpperCase, LettersOfTheCommonScripts) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"alice-01@x_Y", u"ALICE-01@X_Y"},
        {u"j\u00fcrgen \u00f7 \u00ff", u"J\u00dcRGEN \u00f7 \u0178"},
        {u"\u0101\u0142\u017e\u0131",
         u"\u0100\u0141\u017d"
         u"I"},  // a-macron, l-stroke, z-caron, dotless i
        {u"\u03b1\u03c2\u03c9", u"\u0391\u03a3\u03a9"},
        {u"\u0436\u0451", u"\u0416\u0401"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(ntlmUpperCase(in), out);
}

// --- gss-ntlmssp as the server ---

gss_OID_desc kNtlmMech = {10, const_cast<char*>("\x2b\x06\x01\x04\x01\x82\x37\x02\x02\x0a")};
gss_OID_desc kSpnegoMech = {6, const_cast<char*>("\x2b\x06\x01\x05\x05\x02")};

Bytes take(gss_buffer_desc& buffer) {
    Bytes out(static_cast<std::uint8_t*>(buffer.value), static_cast<std::uint8_t*>(buffer.value) + buffer.length);
    OM_uint32 minor = 0;
    gss_release_buffer(&minor, &buffer);
    return out;
}

// One accepting context of gss-ntlmssp for the users in the fixture's file,
// through the NTLM mechanism itself or through SPNEGO.
class Acceptor {
public:
    explicit Acceptor(const std::optional<std::string>& bindings = std::nullopt, gss_OID mech = &kNtlmMech)
        : bindingText_(bindings.value_or("")) {
        gss_OID_set_desc mechs = {1, mech};
        OM_uint32 minor = 0;
        EXPECT_EQ(
            gss_acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &mechs, GSS_C_ACCEPT, &cred_, nullptr, nullptr),
            GSS_S_COMPLETE);
        if (bindings) {
            bindings_.application_data = {bindingText_.size(), bindingText_.data()};
            useBindings_ = true;
        }
    }
    ~Acceptor() {
        OM_uint32 minor = 0;
        if (context_ != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &context_, GSS_C_NO_BUFFER);
        if (cred_ != GSS_C_NO_CREDENTIAL) gss_release_cred(&minor, &cred_);
        if (source_ != GSS_C_NO_NAME) gss_release_name(&minor, &source_);
    }
    OM_uint32 step(const Bytes& token, Bytes* answer = nullptr) {
        gss_buffer_desc in = {token.size(), const_cast<std::uint8_t*>(token.data())};
        gss_buffer_desc out = {0, nullptr};
        OM_uint32 minor = 0;
        const OM_uint32 major =
            gss_accept_sec_context(&minor, &context_, cred_, &in, useBindings_ ? &bindings_ : GSS_C_NO_CHANNEL_BINDINGS,
                                   &source_, nullptr, &out, nullptr, nullptr, nullptr);
        const Bytes produced = take(out);
        if (answer) *answer = produced;
        return major;
    }
    std::string sourceName() const {
        gss_buffer_desc text = {0, nullptr};
        OM_uint32 minor = 0;
        if (source_ == GSS_C_NO_NAME || gss_display_name(&minor, source_, &text, nullptr) != GSS_S_COMPLETE) return {};
        const Bytes b = take(text);
        std::string name(b.begin(), b.end());
        // gss-ntlmssp counts the terminating zero in the length.
        while (!name.empty() && name.back() == '\0') name.pop_back();
        return name;
    }

private:
    std::string bindingText_;
    gss_channel_bindings_struct bindings_{};
    bool useBindings_ = false;
    gss_cred_id_t cred_ = GSS_C_NO_CREDENTIAL;
    gss_ctx_id_t context_ = GSS_C_NO_CONTEXT;
    gss_name_t source_ = GSS_C_NO_NAME;
};

class NtlmPeer : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char dir[] = "/tmp/ntlm_peer_XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        folder_ = dir;
        std::ofstream(folder_ / "users") << "EXAMPLE:alice:s3cret pass\n";
        setenv("NTLM_USER_FILE", (folder_ / "users").c_str(), 1);
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(folder_); }

    struct Exchange {
        Bytes challenge;
        Bytes authenticate;
        OM_uint32 major = 0;
        std::string source;
    };
    // Our negotiate message, the peer's challenge, our answer.
    static Exchange run(const NtlmCredentials& who, const std::optional<std::string>& ourBindings,
                        const std::optional<std::string>& peerBindings) {
        Exchange e;
        Acceptor acceptor(peerBindings);
        EXPECT_EQ(acceptor.step(ntlmNegotiateMessage(), &e.challenge), static_cast<OM_uint32>(GSS_S_CONTINUE_NEEDED));
        const auto parsed = parseNtlmChallenge(e.challenge);
        EXPECT_TRUE(parsed.challenge) << parsed.error;
        if (!parsed.challenge) return e;
        NtlmAuthenticateOptions options;
        const Bytes data = ourBindings ? bytesOf(*ourBindings) : Bytes{};
        if (ourBindings) options.channelBindingData = data;
        const auto auth = ntlmAuthenticateMessage(*parsed.challenge, who, options);
        EXPECT_TRUE(auth.ok()) << auth.error;
        e.authenticate = auth.message;
        e.major = acceptor.step(auth.message);
        e.source = acceptor.sourceName();
        return e;
    }

    static inline std::filesystem::path folder_;
};

TEST_F(NtlmPeer, AcceptsTheRightPasswordOnly) {
    struct Case {
        NtlmCredentials who;
        bool accepted;
    };
    const Case cases[] = {
        {{u"alice", u"EXAMPLE", u"s3cret pass"}, true},
        {{u"ALICE", u"EXAMPLE", u"s3cret pass", u"WORKSTATION"}, true},  // the user name is hashed upper-cased
        {{u"alice", u"EXAMPLE", u"s3cret pasS"}, false},
        {{u"alice", u"EXAMPLE", u""}, false},
    };
    for (const auto& c : cases) {
        const auto e = run(c.who, std::nullopt, std::nullopt);
        EXPECT_EQ(e.major == GSS_S_COMPLETE, c.accepted) << std::hex << e.major;
        if (c.accepted) {
            EXPECT_EQ(e.source, "EXAMPLE\\" + std::string(c.who.user.begin(), c.who.user.end()));
        }
    }
}

TEST_F(NtlmPeer, EnforcesChannelBindings) {
    const std::string ours = "tls-server-end-point:\x01\x02\x03";
    struct Case {
        const char* name;
        std::optional<std::string> client, server;
        bool accepted;
    };
    const Case cases[] = {
        {"same bindings", ours, ours, true},
        {"other bindings", ours, "tls-server-end-point:\x01\x02\x04", false},
        // gss-ntlmssp checks bindings only when the client sends some.
        {"server wants bindings, client sends none", std::nullopt, ours, true},
        {"server without bindings ignores them", ours, std::nullopt, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run({u"alice", u"EXAMPLE", u"s3cret pass"}, c.client, c.server).major == GSS_S_COMPLETE, c.accepted)
            << c.name;
    }
}

// --- The debug log ---

TEST(AuthTokenLog, StepTexts) {
    EXPECT_EQ(tokenParametersText("NTLM", "alice", "EXAMPLE", 11, "example.org", true),
              "Getting authentication token.\r\nParameters:\r\n\tprotocol=\"NTLM\", user=\"alice\", "
              "domain=\"EXAMPLE\", password(len)=\"11\", server=\"example.org\", server side=\"True\"\r\n");
    EXPECT_EQ(inputTokenText(bytesOf("NTLMSSP")), "Input token - TlRMTVNTUA==\r\n");
    EXPECT_EQ(generatedTokenText({}), "Generated token - \r\n");
}

std::string ntlmLines(std::size_t length, int type, const char* name, std::uint32_t flags) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "Found NTLM token:\r\n\tLength: %zu\r\n\tNTLMSSP Signature: NTLMSSP\r\n"
                  "\tMessage Type: %d (%s)\r\n\tFlags: 0x%x\r\n",
                  length, type, name, flags);
    return text;
}

TEST_F(NtlmPeer, TokenLogOnRealTokens) {
    // Our messages against gss-ntlmssp's.
    const auto e = run({u"alice", u"EXAMPLE", u"s3cret pass"}, std::nullopt, std::nullopt);
    const std::uint32_t challengeFlags = parseNtlmChallenge(e.challenge).challenge->flags;

    // A SPNEGO exchange through GSSAPI, with NTLM as its only mechanism.
    OM_uint32 minor = 0;
    gss_name_t user = GSS_C_NO_NAME, target = GSS_C_NO_NAME;
    gss_buffer_desc userText = {13, const_cast<char*>("EXAMPLE\\alice")};
    gss_buffer_desc targetText = {14, const_cast<char*>("HTTP@localhost")};
    ASSERT_EQ(gss_import_name(&minor, &userText, GSS_C_NT_USER_NAME, &user), GSS_S_COMPLETE);
    ASSERT_EQ(gss_import_name(&minor, &targetText, GSS_C_NT_HOSTBASED_SERVICE, &target), GSS_S_COMPLETE);
    gss_OID_set_desc spnego = {1, &kSpnegoMech}, ntlmOnly = {1, &kNtlmMech};
    gss_cred_id_t cred = GSS_C_NO_CREDENTIAL;
    ASSERT_EQ(gss_acquire_cred(&minor, user, GSS_C_INDEFINITE, &spnego, GSS_C_INITIATE, &cred, nullptr, nullptr),
              GSS_S_COMPLETE);
    ASSERT_EQ(gss_set_neg_mechs(&minor, cred, &ntlmOnly), GSS_S_COMPLETE);
    gss_ctx_id_t context = GSS_C_NO_CONTEXT;
    gss_buffer_desc out = {0, nullptr};
    EXPECT_EQ(gss_init_sec_context(&minor, cred, &context, target, &kSpnegoMech, 0, 0, GSS_C_NO_CHANNEL_BINDINGS,
                                   GSS_C_NO_BUFFER, nullptr, &out, nullptr, nullptr),
              static_cast<OM_uint32>(GSS_S_CONTINUE_NEEDED));
    const Bytes spnegoInit = take(out);
    Acceptor spnegoAcceptor(std::nullopt, &kSpnegoMech);
    Bytes spnegoAnswer;
    EXPECT_EQ(spnegoAcceptor.step(spnegoInit, &spnegoAnswer), static_cast<OM_uint32>(GSS_S_CONTINUE_NEEDED));
    gss_delete_sec_context(&minor, &context, GSS_C_NO_BUFFER);
    gss_release_cred(&minor, &cred);
    gss_release_name(&minor, &user);
    gss_release_name(&minor, &target);
    // gss-ntlmssp's own negotiate message sits at the end of the first token.
    const Bytes theirNegotiate(spnegoInit.end() - 40, spnegoInit.end());
    ASSERT_EQ(Bytes(theirNegotiate.begin(), theirNegotiate.begin() + 7), bytesOf("NTLMSSP"));

    const std::string gss = "Found GSS-API token:\r\n";
    const std::string spnegoLine = "\tFound SPNEGO token.\r\n";
    // A Kerberos AP-REQ in its GSS-API framing, its ticket left out.
    const Bytes apReq = fromHex("600f06092a864886f712010202 0100 6e00");
    struct Case {
        const char* name;
        Bytes token;
        std::string lines;
    };
    const Case cases[] = {
        {"ours, negotiate", ntlmNegotiateMessage(), ntlmLines(40, 1, "Negotiate", kNtlmNegotiateFlags)},
        {"theirs, challenge", e.challenge, ntlmLines(e.challenge.size(), 2, "Challenge", challengeFlags)},
        {"ours, authenticate", e.authenticate,
         ntlmLines(e.authenticate.size(), 3, "Authenticate", le32(e.authenticate, 60))},
        {"SPNEGO with their negotiate", spnegoInit,
         gss + spnegoLine + ntlmLines(40, 1, "Negotiate", le32(theirNegotiate, 12))},
        {"SPNEGO answer with their challenge", spnegoAnswer,
         gss + spnegoLine + "Found NTLM token:\r\n\tLength: " + std::to_string(e.challenge.size())},
        {"Kerberos AP-REQ", apReq, gss + "Kerberos KRB_AP_REQ token:\r\n\tLength: 17\r\n"},
        {"other mechanism", fromHex("600806062b0601050501 00"), gss + "Unknown token type.\r\n"},
        {"framing past the end", fromHex("6040060100"), gss + "Unknown token type.\r\n"},
        {"signature alone", bytesOf(std::string_view("NTLMSSP\0", 8)),
         "Found NTLM token:\r\n\tLength: 8\r\n\tNTLMSSP Signature: NTLMSSP\r\n"},
        {"empty", {}, "Token is empty.\r\n"},
        {"something else", bytesOf("HTTP"), "Unknown token type.\r\n"},
    };
    for (const auto& c : cases) {
        const std::string text = describeAuthToken(c.token);
        EXPECT_TRUE(text.starts_with(c.lines)) << c.name << ":\n" << text;
        if (c.lines.ends_with("\r\n")) {
            EXPECT_EQ(text, c.lines) << c.name;
        }
    }
}

}  // namespace
}  // namespace morvane::auth
