#include "control/websocket/response_reader.h"

#include <gtest/gtest.h>

namespace morvane::websocket {
namespace {

// Feeds whole, or `piece` bytes at a time; returns the bytes consumed.
std::size_t feedAll(ResponseReader& reader, std::string_view input, std::size_t piece = 0) {
    std::size_t consumed = 0;
    while (consumed < input.size()) {
        const std::size_t size = piece == 0 ? input.size() - consumed : std::min(piece, input.size() - consumed);
        const std::size_t used = reader.feed(input.substr(consumed, size));
        consumed += used;
        if (used < size) break;
    }
    return consumed;
}

constexpr std::string_view kUpgrade =
    "HTTP/1.1 101 Switching Protocols\r\n"
    "Upgrade: websocket\r\n"
    "Connection: Upgrade\r\n"
    "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"
    "\r\n";

class ByPiece : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ByPiece, UpgradeStopsAtTheEmptyLineAndLeavesFrameBytes) {
    ResponseReader reader;
    const std::string input = std::string(kUpgrade) + "\x81\x02hi";
    EXPECT_EQ(feedAll(reader, input, GetParam()), kUpgrade.size());
    ASSERT_TRUE(reader.complete());
    EXPECT_EQ(reader.statusLine(), "HTTP/1.1 101 Switching Protocols");
    EXPECT_EQ(reader.statusCode(), 101);
    EXPECT_EQ(reader.reasonPhrase(), "Switching Protocols");
    ASSERT_EQ(reader.headers().size(), 3u);
    EXPECT_EQ(reader.headers()[0].name, "Upgrade");
    EXPECT_EQ(reader.headers()[0].value, "websocket");
    EXPECT_EQ(reader.header("sec-websocket-accept"), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    EXPECT_EQ(reader.transferredHeaders(),
              "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n");
}

TEST_P(ByPiece, BodiesByLengthChunksAndClose) {
    struct Case {
        std::string input;
        std::string body;
        bool needsClose;
    };
    const Case cases[] = {
        {"HTTP/1.1 302 Found\r\nLocation: /x\r\nContent-Length: 5\r\n\r\nhello", "hello", false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", "", false},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;ext=1\r\nhello\r\n1A\r\n"
         "abcdefghijklmnopqrstuvwxyz\r\n0\r\nTrailer: x\r\n\r\n",
         "helloabcdefghijklmnopqrstuvwxyz", false},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\nContent-Length: 99\r\n\r\n2\r\nok\r\n0\r\n\r\n", "ok",
         false},
        {"HTTP/1.0 200 OK\nServer: bare line feeds\n\nuntil close", "until close", true},
        {"HTTP/1.1 204 No Content\r\n\r\n", "", false},
        {"HTTP/1.1 304 Not Modified\r\nContent-Length: 10\r\n\r\n", "", false},
    };
    for (const auto& c : cases) {
        ResponseReader reader;
        EXPECT_EQ(feedAll(reader, c.input, GetParam()), c.input.size()) << c.input;
        EXPECT_EQ(reader.complete(), !c.needsClose) << c.input;
        if (c.needsClose) reader.endOfInput();
        EXPECT_TRUE(reader.complete()) << c.input;
        EXPECT_EQ(reader.body(), c.body) << c.input;
    }
}

TEST_P(ByPiece, InterimResponsesAreSkipped) {
    ResponseReader reader;
    const std::string input = "HTTP/1.1 100 Continue\r\nX: 1\r\n\r\n" + std::string(kUpgrade);
    EXPECT_EQ(feedAll(reader, input, GetParam()), input.size());
    EXPECT_EQ(reader.statusCode(), 101);
    EXPECT_EQ(reader.headers().size(), 3u);
}

TEST_P(ByPiece, FoldedLinesContinueAHeaderAndValuesAreTrimmed) {
    ResponseReader reader;
    const std::string input =
        "HTTP/1.1 101 OK\r\nX-Long: one\r\n  two\r\n\tthree\r\nNo-Colon\r\nEmpty:\r\nSpaced :  v  \r\n\r\n";
    feedAll(reader, input, GetParam());
    ASSERT_EQ(reader.headers().size(), 4u);
    EXPECT_EQ(reader.headers()[0].value, "one two three");
    EXPECT_EQ(reader.headers()[1].name, "No-Colon");
    EXPECT_EQ(reader.headers()[1].value, "");
    EXPECT_EQ(reader.headers()[2].value, "");
    EXPECT_EQ(reader.headers()[3].name, "Spaced");
    EXPECT_EQ(reader.headers()[3].value, "v");
    EXPECT_NE(reader.transferredHeaders().find("X-Long: one\r\n  two\r\n\tthree\r\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Pieces, ByPiece, ::testing::Values(0, 1, 2, 5, 13));

TEST(ResponseReader, AHeaderAppearsOnlyWhenItsLineIsFinished) {
    ResponseReader reader;
    reader.feed("HTTP/1.1 101 OK\r\nA: 1\r\n");
    EXPECT_TRUE(reader.headers().empty()) << "a folded line may still follow";
    reader.feed("B: 2\r\n");
    ASSERT_EQ(reader.headers().size(), 1u);
    EXPECT_EQ(reader.headers()[0].name, "A");
}

// --- errors and bounds -------------------------------------------------------------

TEST(ResponseReaderErrors, EachMalformedOrOversizedResponseFailsWith151AndItsText) {
    ResponseLimits small;
    small.maxLineLength = 64;
    small.maxHeaderCount = 3;
    small.maxHeaderBytes = 200;
    small.maxBodySize = 16;
    struct Case {
        std::string input;
        std::string text;
    };
    const Case cases[] = {
        {"SMTP 220 hello\r\n", "HTTP protocol error. Malformed status line."},
        {"HTTP/1.1\r\n", "HTTP protocol error. Malformed status line."},
        {"HTTP/1.1 20x OK\r\n", "HTTP protocol error. Malformed status line."},
        {"HTTP/1.1 2000 OK\r\n", "HTTP protocol error. Malformed status line."},
        {"HTTP/1.1 200 OK\r\nX: " + std::string(100, 'x'), "HTTP protocol error. Header line too long."},
        {"HTTP/1.1 200 OK\r\nA: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\n", "HTTP protocol error. Too many headers."},
        {"HTTP/1.1 200 OK\r\nA: 1\r\n" + std::string(10, ' ') + "x\r\n" + std::string(20, ' ') + "y\r\n" +
             std::string(40, ' ') + "z\r\n" + std::string(50, ' ') + "z\r\n" + std::string(50, ' ') + "z\r\n",
         "HTTP protocol error. Too many headers."},
        {"HTTP/1.1 200 OK\r\nContent-Length: 12a\r\n\r\n", "HTTP protocol error. Invalid Content-Length."},
        {"HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n",
         "HTTP protocol error. Invalid Content-Length."},
        {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n",
         "HTTP protocol error. Invalid Content-Length."},
        {"HTTP/1.1 200 OK\r\nContent-Length: 17\r\n\r\n", "HTTP protocol error. Response body too large."},
        {"HTTP/1.1 200 OK\r\n\r\n" + std::string(17, 'b'), "HTTP protocol error. Response body too large."},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
         "HTTP protocol error. Invalid chunked encoding."},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabX\r\n",
         "HTTP protocol error. Invalid chunked encoding."},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFF\r\n",
         "HTTP protocol error. Invalid chunked encoding."},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\n0123456789abcdef\r\n1\r\n",
         "HTTP protocol error. Response body too large."},
    };
    for (const auto& c : cases) {
        for (std::size_t piece : {0, 1}) {
            ResponseReader reader(small);
            feedAll(reader, c.input, piece);
            EXPECT_TRUE(reader.failed()) << c.input;
            EXPECT_EQ(reader.errorCode(), 151) << c.input;
            EXPECT_EQ(reader.errorText(), c.text) << c.input;
        }
    }
}

TEST(ResponseReaderErrors, ConnectionClosedEarlyFailsAndAFailedReaderTakesNothingMore) {
    for (std::string_view partial : {"", "HTTP/1.1 101", "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nab",
                                     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"}) {
        ResponseReader reader;
        reader.feed(partial);
        reader.endOfInput();
        EXPECT_TRUE(reader.failed()) << partial;
        EXPECT_EQ(reader.errorText(), "HTTP protocol error. Connection closed before the response was complete.");
        EXPECT_EQ(reader.feed("more"), 0u);
    }
}

TEST(ResponseReader, ResetStartsAFreshResponse) {
    ResponseReader reader;
    reader.feed("HTTP/1.1 302 Found\r\nLocation: /a\r\nContent-Length: 0\r\n\r\n");
    ASSERT_TRUE(reader.complete());
    reader.reset();
    EXPECT_EQ(reader.feed(kUpgrade), kUpgrade.size());
    EXPECT_EQ(reader.statusCode(), 101);
    EXPECT_EQ(reader.header("Location"), "");
}

}  // namespace
}  // namespace morvane::websocket
