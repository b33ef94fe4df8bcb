#include "control/transport/http_auth.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <span>

#include "control/websocket/test_random.h"

namespace morvane::auth {
namespace {

using websocket::CountingRandom;

// Hands out the given bytes, so a test can ask for a known client nonce.
class FixedRandom final : public websocket::RandomSource {
public:
    explicit FixedRandom(std::array<std::uint8_t, 4> bytes) : bytes_(bytes) {}
    bool fill(std::span<std::uint8_t> out) override {
        for (std::size_t i = 0; i < out.size(); ++i) out[i] = bytes_[i % bytes_.size()];
        return true;
    }

private:
    std::array<std::uint8_t, 4> bytes_;
};

// The exchange of RFC 2617 section 3.5.
constexpr std::string_view kRfcChallenge =
    "realm=\"testrealm@host.com\", qop=\"auth,auth-int\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
    "opaque=\"5ccc069c403ebaf9f0171e9517f40e41\"";
constexpr std::string_view kRfcNonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
const DigestRequest kRfcRequest{
    .user = "Mufasa", .password = "Circle Of Life", .method = "GET", .uri = "/dir/index.html"};

TEST(BasicAuth, ValuesAndWhenNothingIsSent) {
    struct Case {
        std::string user;
        std::string password;
        std::optional<std::string> value;
    };
    const Case cases[] = {
        {"Aladdin", "open sesame", "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
        {"u", "", "Basic dTo="},   // one letter and the colon
        {"", "pw", "Basic OnB3"},  // a password alone is still sent
        {"", "", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(basicAuthorization(c.user, c.password), c.value) << c.user << "/" << c.password;
}

TEST(SchemeText, TextAfterTheSchemeName) {
    struct Case {
        std::string value;
        std::string scheme;
        std::optional<std::string> rest;
    };
    const Case cases[] = {
        {"Digest realm=\"r\"", "Digest", "realm=\"r\""},
        {"digest nonce=1", "Digest", "nonce=1"},
        {"NTLM TlRMTVNTUAACAAAA", "NTLM", "TlRMTVNTUAACAAAA"},
        {"Negotiate", "Negotiate", ""},
        {"Digestive x", "Digest", std::nullopt},
        {"Basic realm=\"r\"", "Digest", std::nullopt},
        {"Dig", "Digest", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto rest = afterScheme(c.value, c.scheme);
        EXPECT_EQ(rest ? std::optional<std::string>(*rest) : std::nullopt, c.rest) << c.value;
    }
}

TEST(DigestQop, ChoiceFollowsTheOrderOfTheTests) {
    struct Case {
        std::string offered;
        std::string chosen;
    };
    const Case cases[] = {
        {"auth", "auth"},
        {"auth,auth-int", "auth"},
        {"auth, auth-int", "auth"},
        {"auth-int,auth", "auth-int"},
        {"auth-int, auth", "auth-int"},
        {"auth-int", "auth-int"},
        {"", ""},
        {"token", ""},
        {"AUTH", ""},  // qop values are compared as written
    };
    for (const auto& c : cases) EXPECT_EQ(chooseQop(c.offered), c.chosen) << c.offered;
}

TEST(DigestChallenge, ParsesQuotedUnquotedAndCaseBlindNames) {
    struct Case {
        std::string parameters;
        std::string realm;
        std::string qop;
        std::string algorithm;
        std::string nonce;
        std::optional<std::string> opaque;
        std::string clientNonce;
    };
    const Case cases[] = {
        {std::string(kRfcChallenge), "testrealm@host.com", "auth", "md5", std::string(kRfcNonce),
         "5ccc069c403ebaf9f0171e9517f40e41", "00010203"},
        {"realm=r,nonce=abc,algorithm=MD5-sess,qop=auth", "r", "auth", "MD5-sess", "abc", std::nullopt, "00010203"},
        {"REALM=\"R\", Nonce=\"n\", QoP=\"auth-int\", AlGoRiThM=\"MD5\", OPAQUE=\"o\"", "R", "auth-int", "MD5", "n",
         "o", "00010203"},
        // Names the client has no use for are passed over.
        {"domain=\"/x\", stale=FALSE, realm=\"r\", nonce=\"n\"", "r", "", "md5", "n", std::nullopt, ""},
        // A quoted value keeps its commas and equals signs.
        {"realm=\"a, b=c\", nonce=\"n\"", "a, b=c", "", "md5", "n", std::nullopt, ""},
        {"\trealm=\"r\",\t nonce=\"n\"", "r", "", "md5", "n", std::nullopt, ""},
        // An empty opaque is still sent back.
        {"nonce=\"n\", opaque=\"\"", "", "", "md5", "n", "", ""},
        // The last of a repeated name counts.
        {"nonce=\"a\", nonce=\"b\"", "", "", "md5", "b", std::nullopt, ""},
        // An unclosed quote runs to the end of the header.
        {"nonce=\"n\", realm=\"abc", "abc", "", "md5", "n", std::nullopt, ""},
        // Only the comma straight after a closing quote is skipped: with a
        // blank before it, the comma becomes part of the next name, which is
        // then not recognised.
        {"realm=\"r\" , nonce=\"n\"", "r", "", "md5", "", std::nullopt, ""},
        // A name without "=" ends the list.
        {"realm", "", "", "md5", "", std::nullopt, ""},
        {"", "", "", "md5", "", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        CountingRandom random;
        DigestState state;
        EXPECT_EQ(takeDigestChallenge(c.parameters, state, random), 0) << c.parameters;
        EXPECT_EQ(state.realm, c.realm) << c.parameters;
        EXPECT_EQ(state.qop, c.qop) << c.parameters;
        EXPECT_EQ(state.algorithm, c.algorithm) << c.parameters;
        EXPECT_EQ(state.nonce, c.nonce) << c.parameters;
        EXPECT_EQ(state.opaque, c.opaque) << c.parameters;
        EXPECT_EQ(state.clientNonce, c.clientNonce) << c.parameters;
        EXPECT_EQ(state.counter, 0u) << c.parameters;
    }
}

TEST(DigestChallenge, EachChallengeStartsFromNothing) {
    CountingRandom random;
    DigestState state;
    ASSERT_EQ(
        takeDigestChallenge("realm=\"r\", nonce=\"n1\", qop=\"auth\", algorithm=MD5-sess, opaque=\"o\"", state, random),
        0);
    ASSERT_TRUE(digestAuthorization(state, kRfcRequest).value);
    ASSERT_TRUE(digestAuthorization(state, kRfcRequest).value);
    ASSERT_EQ(state.counter, 2u);

    ASSERT_EQ(takeDigestChallenge("nonce=\"n2\"", state, random), 0);
    EXPECT_EQ(state.realm, "");
    EXPECT_EQ(state.qop, "");
    EXPECT_EQ(state.algorithm, "md5");
    EXPECT_EQ(state.nonce, "n2");
    EXPECT_EQ(state.opaque, std::nullopt);
    EXPECT_EQ(state.clientNonce, "");
    EXPECT_EQ(state.counter, 0u);
}

TEST(DigestChallenge, ClientNonceFromTheRandomSource) {
    FixedRandom fixed({0x0a, 0x4f, 0x11, 0x3b});
    DigestState state;
    ASSERT_EQ(takeDigestChallenge(kRfcChallenge, state, fixed), 0);
    EXPECT_EQ(state.clientNonce, "0a4f113b");

    CountingRandom failing;
    failing.fail = true;
    EXPECT_EQ(takeDigestChallenge(kRfcChallenge, state, failing), websocket::kRandomUnavailable);
    EXPECT_EQ(state.nonce, "");
    EXPECT_EQ(state.clientNonce, "");
    EXPECT_EQ(digestAuthorization(state, kRfcRequest).value, std::nullopt);

    // Without a qop no client nonce is drawn, so a failing source does no harm.
    EXPECT_EQ(takeDigestChallenge("realm=\"r\", nonce=\"n\"", state, failing), 0);
    EXPECT_EQ(state.nonce, "n");
}

TEST(DigestHeader, ExactValues) {
    struct Case {
        const char* name;
        std::string challenge;
        std::array<std::uint8_t, 4> random;
        DigestRequest request;
        std::string value;
    };
    const std::string nonce(kRfcNonce);
    const std::string rfcStart =
        "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
        "uri=\"/dir/index.html\", ";
    DigestRequest withBody = kRfcRequest;
    withBody.body = "hello";
    DigestRequest toProxy{.user = "Mufasa",
                          .password = "Circle Of Life",
                          .method = "CONNECT",
                          .uri = "echo.example:443",
                          .toProxy = true};
    const Case cases[] = {
        {"rfc 2617 example",
         std::string(kRfcChallenge),
         {0x0a, 0x4f, 0x11, 0x3b},
         kRfcRequest,
         rfcStart + "algorithm=\"md5\", qop=\"auth\", nc=00000001, cnonce=\"0a4f113b\", "
                    "response=\"6629fae49393a05397450978507c4ef1\", opaque=\"5ccc069c403ebaf9f0171e9517f40e41\""},
        {"md5-sess",
         "realm=\"testrealm@host.com\", nonce=\"" + nonce + "\", qop=\"auth\", algorithm=MD5-sess",
         {0x0a, 0x4f, 0x11, 0x3b},
         kRfcRequest,
         rfcStart + "algorithm=\"MD5-sess\", qop=\"auth\", nc=00000001, cnonce=\"0a4f113b\", "
                    "response=\"8e3825c57e897f5a0dec6c2d4e5059d0\""},
        // The algorithm name is matched without regard to case but sent back as written.
        {"md5-sess any case",
         "realm=\"testrealm@host.com\", nonce=\"" + nonce + "\", qop=\"auth\", algorithm=md5-SESS",
         {0x0a, 0x4f, 0x11, 0x3b},
         kRfcRequest,
         rfcStart + "algorithm=\"md5-SESS\", qop=\"auth\", nc=00000001, cnonce=\"0a4f113b\", "
                    "response=\"8e3825c57e897f5a0dec6c2d4e5059d0\""},
        {"auth-int hashes the body",
         "realm=\"testrealm@host.com\", nonce=\"" + nonce + "\", qop=\"auth-int\"",
         {0x0a, 0x4f, 0x11, 0x3b},
         withBody,
         rfcStart + "algorithm=\"md5\", qop=\"auth-int\", nc=00000001, cnonce=\"0a4f113b\", "
                    "response=\"4b9dff6a3247bddd2fed3d63a302e8dc\""},
        {"auth-int, empty body",
         "realm=\"testrealm@host.com\", nonce=\"" + nonce + "\", qop=\"auth-int,auth\"",
         {0x0a, 0x4f, 0x11, 0x3b},
         kRfcRequest,
         rfcStart + "algorithm=\"md5\", qop=\"auth-int\", nc=00000001, cnonce=\"0a4f113b\", "
                    "response=\"5e6610ecf9ba3017a4870ad48e3ad30b\""},
        {"no qop",
         "realm=\"testrealm@host.com\", nonce=\"" + nonce + "\"",
         {0x0a, 0x4f, 0x11, 0x3b},
         withBody,
         rfcStart + "algorithm=\"md5\", response=\"670fd8c2df070c60b045671b8b24ff02\""},
        {"proxy tunnel leaves out the algorithm",
         "realm=\"testrealm@host.com\", nonce=\"" + nonce + "\", qop=auth",
         {0x00, 0x01, 0x02, 0x03},
         toProxy,
         "Digest username=\"Mufasa\", realm=\"testrealm@host.com\", nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", "
         "uri=\"echo.example:443\", qop=\"auth\", nc=00000001, cnonce=\"00010203\", "
         "response=\"50c06d263810631642c14f0bf3a91e77\""},
    };
    for (const auto& c : cases) {
        FixedRandom random(c.random);
        DigestState state;
        ASSERT_EQ(takeDigestChallenge(c.challenge, state, random), 0) << c.name;
        const DigestAnswer answer = digestAuthorization(state, c.request);
        EXPECT_EQ(answer.code, 0) << c.name;
        EXPECT_EQ(answer.text, "") << c.name;
        EXPECT_EQ(answer.value, c.value) << c.name;
    }
}

TEST(DigestHeader, CounterMovesOnWithEachRequest) {
    FixedRandom random({0x0a, 0x4f, 0x11, 0x3b});
    DigestState state;
    ASSERT_EQ(takeDigestChallenge(kRfcChallenge, state, random), 0);
    const auto first = digestAuthorization(state, kRfcRequest).value;
    const auto second = digestAuthorization(state, kRfcRequest).value;
    ASSERT_TRUE(first && second);
    EXPECT_NE(first->find("nc=00000001, "), std::string::npos) << *first;
    EXPECT_NE(second->find("nc=00000002, "), std::string::npos) << *second;
    EXPECT_NE(second->find("response=\"15b6bb427e3fecd23a43cb702ce447d5\""), std::string::npos) << *second;
    EXPECT_EQ(state.counter, 2u);

    // Past 0xffffffff the count starts again at zero.
    state.counter = 0xfffffffe;
    EXPECT_NE(digestAuthorization(state, kRfcRequest).value->find("nc=ffffffff, "), std::string::npos);
    EXPECT_NE(digestAuthorization(state, kRfcRequest).value->find("nc=00000000, "), std::string::npos);

    // Without a qop there is no nc and the counter stays.
    ASSERT_EQ(takeDigestChallenge("nonce=\"n\"", state, random), 0);
    const auto plain = digestAuthorization(state, kRfcRequest).value;
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->find("nc="), std::string::npos) << *plain;
    EXPECT_EQ(state.counter, 0u);
}

TEST(DigestHeader, NothingWithoutNonceOrUser) {
    CountingRandom random;
    DigestState state;
    // Before any challenge.
    EXPECT_EQ(digestAuthorization(state, kRfcRequest).value, std::nullopt);

    ASSERT_EQ(takeDigestChallenge(kRfcChallenge, state, random), 0);
    DigestRequest noUser = kRfcRequest;
    noUser.user = "";
    const DigestAnswer answer = digestAuthorization(state, noUser);
    EXPECT_EQ(answer.code, 0);
    EXPECT_EQ(answer.value, std::nullopt);
    EXPECT_EQ(state.counter, 0u);

    ASSERT_EQ(takeDigestChallenge("realm=\"r\", qop=\"auth\"", state, random), 0);
    EXPECT_EQ(digestAuthorization(state, kRfcRequest).value, std::nullopt);
}

TEST(DigestHeader, UnknownQopFails) {
    CountingRandom random;
    DigestState state;
    ASSERT_EQ(takeDigestChallenge(kRfcChallenge, state, random), 0);
    // The parser only ever chooses auth or auth-int; a state that holds
    // anything else is refused rather than answered wrongly.
    for (const char* qop : {"auth-conf", "AUTH", "auth "}) {
        state.qop = qop;
        const DigestAnswer answer = digestAuthorization(state, kRfcRequest);
        EXPECT_EQ(answer.code, 151) << qop;
        EXPECT_EQ(answer.text, "Digest authentication error: unknown qop value.") << qop;
        EXPECT_EQ(answer.value, std::nullopt) << qop;
        EXPECT_EQ(state.counter, 0u) << qop;
    }
}

TEST(Md5, KnownDigests) {
    // RFC 1321, appendix A.5.
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
}

}  // namespace
}  // namespace morvane::auth
