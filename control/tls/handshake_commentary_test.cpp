#include "control/tls/handshake_commentary.h"

#include <gtest/gtest.h>

#include <vector>

namespace morvane::tls {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A hello record up to and including the suite list (a ClientHello's list,
// or a ServerHello's one chosen suite), with `tail` behind it for the rest.
Bytes hello(std::uint8_t messageType, std::uint16_t recordVersion, std::uint8_t sessionIdLength, const Bytes& suites,
            const Bytes& tail = {0x01, 0x00}) {
    Bytes body = {0x03, 0x03};
    body.insert(body.end(), 32, 0x5A);  // random
    body.push_back(sessionIdLength);
    body.insert(body.end(), sessionIdLength, 0x33);
    if (messageType == 1) {
        body.push_back(static_cast<std::uint8_t>(suites.size() >> 8));
        body.push_back(static_cast<std::uint8_t>(suites.size()));
    }
    body.insert(body.end(), suites.begin(), suites.end());
    body.insert(body.end(), tail.begin(), tail.end());
    const std::size_t messageLength = body.size();
    const std::size_t recordLength = messageLength + 4;
    Bytes record;
    record.reserve(9 + body.size());
    for (const std::size_t byte :
         {std::size_t{22}, std::size_t{recordVersion} >> 8, std::size_t{recordVersion}, recordLength >> 8, recordLength,
          std::size_t{messageType}, std::size_t{0}, messageLength >> 8, messageLength}) {
        record.push_back(static_cast<std::uint8_t>(byte));
    }
    record.insert(record.end(), body.begin(), body.end());
    return record;
}

Bytes clientHello(std::uint8_t sessionIdLength, const Bytes& suites, const Bytes& tail = {0x01, 0x00}) {
    return hello(1, 0x0301, sessionIdLength, suites, tail);
}

Bytes serverHello(std::uint16_t version, std::uint8_t sessionIdLength, std::uint16_t suite) {
    return hello(2, version, sessionIdLength,
                 {static_cast<std::uint8_t>(suite >> 8), static_cast<std::uint8_t>(suite)});
}

TEST(OfferedCipherSuites, ListsEveryOfferedSuiteByName) {
    struct Case {
        std::uint8_t sessionIdLength;
        Bytes suites;
        std::string text;
    };
    const Case cases[] = {
        {0,
         {0xC0, 0x2F, 0x00, 0x2F, 0x13, 0x01},
         "Cipher Suites:\r\n"
         "    TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256 (0xc02f);\r\n"
         "    TLS_RSA_WITH_AES_128_CBC_SHA (0x002f);\r\n"
         "    Unknown (4865)"},
        {32, {0x00, 0x0A}, "Cipher Suites:\r\n    TLS_RSA_WITH_3DES_EDE_CBC_SHA (0x000a)"},
        {0, {}, "Cipher Suites:\r\n    "},
        {0, {0xCC, 0x13, 0xFF}, "Cipher Suites:\r\n    TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305_SHA256 (0xcc13)"},
    };
    for (const auto& c : cases) {
        const auto text = offeredCipherSuitesText(clientHello(c.sessionIdLength, c.suites));
        ASSERT_TRUE(text.has_value());
        EXPECT_EQ(*text, c.text);
    }
}

TEST(OfferedCipherSuites, ATokenThatEndsRightBehindTheListIsStillReported) {
    const Bytes token = clientHello(0, {0x00, 0x35}, {});
    ASSERT_EQ(token.size(), 48u);
    EXPECT_EQ(offeredCipherSuitesText(token), "Cipher Suites:\r\n    TLS_RSA_WITH_AES_256_CBC_SHA (0x0035)");
}

TEST(OfferedCipherSuites, TokensShorterThanTheyAnnounceAreNotReported) {
    const Bytes full = clientHello(0, {0x00, 0x2F, 0x00, 0x35}, {});
    Bytes longId = clientHello(0, {0x00, 0x2F});
    longId[43] = 200;
    struct Case {
        Bytes token;
        bool reported;
    };
    const Case cases[] = {
        {{}, false},
        {Bytes(45, 0), false},                            // below 46 bytes
        {Bytes(full.begin(), full.end() - 1), false},     // list cut short
        {Bytes(full.begin(), full.begin() + 46), false},  // list length, no suites
        {longId, false},                                  // session id past the end
        {clientHello(32, {}, {}), true},                  // 78 bytes: fits exactly, empty list
        {full, true},
    };
    for (const auto& c : cases) EXPECT_EQ(offeredCipherSuitesText(c.token).has_value(), c.reported) << c.token.size();
}

TEST(ServerChoice, VersionFromTheRecordHeaderAndTheSuiteBehindTheSessionId) {
    struct Case {
        std::uint16_t version;
        std::uint8_t sessionIdLength;
        std::uint16_t suite;
        std::string versionText;
        std::string suiteText;
    };
    const Case cases[] = {
        {0x0303, 32, 0xC030, "Selected TLS Version: TLS1.2",
         "Selected Cipher Suite: TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384 (0xc030)"},
        {0x0302, 0, 0x0035, "Selected TLS Version: TLS1.1",
         "Selected Cipher Suite: TLS_RSA_WITH_AES_256_CBC_SHA (0x0035)"},
        {0x0301, 16, 0x0005, "Selected TLS Version: TLS1.0",
         "Selected Cipher Suite: TLS_RSA_WITH_RC4_128_SHA (0x0005)"},
        {0x0300, 0, 0x000A, "Selected TLS Version: SSL3.0",
         "Selected Cipher Suite: TLS_RSA_WITH_3DES_EDE_CBC_SHA (0x000a)"},
        {0x0304, 32, 0x1301, "Selected TLS Version: Unknown (772)", "Selected Cipher Suite: Unknown (4865)"},
        {0x0002, 0, 0xFFFF, "Selected TLS Version: Unknown (2)", "Selected Cipher Suite: Unknown (65535)"},
    };
    for (const auto& c : cases) {
        const auto choice = serverChoice(serverHello(c.version, c.sessionIdLength, c.suite));
        ASSERT_TRUE(choice.has_value());
        EXPECT_EQ(choice->version, c.versionText);
        EXPECT_EQ(choice->cipherSuite, c.suiteText);
    }
}

TEST(ServerChoice, RecordsTooShortForTheSuiteAreNotReported) {
    const Bytes full = serverHello(0x0303, 32, 0xC02F);
    EXPECT_FALSE(serverChoice(Bytes(full.begin(), full.begin() + 45)));
    // 46 bytes and more, but the session id pushes the suite past the end.
    EXPECT_FALSE(serverChoice(Bytes(full.begin(), full.begin() + 46)));
    EXPECT_FALSE(serverChoice(Bytes(full.begin(), full.begin() + 44 + 32 + 1)));
    EXPECT_TRUE(serverChoice(Bytes(full.begin(), full.begin() + 44 + 32 + 2)));
    const Bytes noSessionId = serverHello(0x0303, 0, 0xC02F);
    EXPECT_TRUE(serverChoice(Bytes(noSessionId.begin(), noSessionId.begin() + 46)));
}

TEST(ServerChoice, RecordsAbove16383BytesAreFlagged) {
    struct Case {
        Bytes header;
        bool oversized;
    };
    const Case cases[] = {
        {{22, 3, 3, 0x3F, 0xFF}, false},  // 16383
        {{22, 3, 3, 0x40, 0x00}, true},   // 16384
        {{22, 3, 3, 0xFF, 0xFF, 2}, true}, {{22, 3, 3, 0x00, 0x2A}, false},
        {{22, 3, 3, 0x40}, false},  // header cut short
    };
    for (const auto& c : cases) EXPECT_EQ(announcesOversizedRecord(c.header), c.oversized);
    EXPECT_EQ(kRecordTooLargeStatus,
              "Error in response record: The server returned a record larger than the maximum supported size (16K).");
}

TEST(ServerHelloStart, AHandshakeRecordWhoseFirstMessageIsServerHello) {
    struct Case {
        Bytes bytes;
        bool serverHello;
    };
    const Case cases[] = {
        {serverHello(0x0303, 0, 0x002F), true},
        {{22, 3, 3, 0, 4, 2}, true},
        {{22, 3, 3, 0, 4, 1}, false},   // ClientHello
        {{22, 3, 3, 0, 4, 11}, false},  // Certificate
        {{21, 3, 3, 0, 2, 2}, false},   // an alert
        {{22, 3, 3, 0, 4}, false},      // no message yet
        {{}, false},
    };
    for (const auto& c : cases) EXPECT_EQ(startsWithServerHello(c.bytes), c.serverHello);
}

}  // namespace
}  // namespace morvane::tls
