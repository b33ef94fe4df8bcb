#include "control/engine/socket_errors.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

namespace morvane {
namespace {

TEST(SocketErrorsTest, DescribesKnownAndUnknownNumbers) {
    const std::pair<int, std::string_view> cases[] = {
        {10004, "[10004] Interrupted system call"},
        {10054, "[10054] Connection reset by peer"},
        {10066, "[10066] Directory not empt"},
        {10093, "[10093] Winsock not loaded yet (WSANOTINITIALISED)"},
        {11001, "[11001] Host not found"},
        {11004, "[11004] Valid name, no data record (check DNS setup)"},
        {10010, "[10010] (no description available)"},
        {11005, "[11005] (no description available)"},
    };
    for (const auto& [code, expected] : cases) EXPECT_EQ(socketErrorDescription(code), expected);
}

TEST(SocketErrorsTest, SocketNumbersAreTheTenThousandsAndTheResolverRange) {
    EXPECT_FALSE(isSocketErrorCode(301));
    EXPECT_FALSE(isSocketErrorCode(4103));
    EXPECT_TRUE(isSocketErrorCode(10035));
    EXPECT_TRUE(isSocketErrorCode(11004));
    EXPECT_FALSE(isSocketErrorCode(-1));
    EXPECT_TRUE(socketErrorText(4001).empty());
}

TEST(SocketErrorsTest, SystemErrorsBecomeSocketNumbers) {
    const std::pair<int, int> cases[] = {
        {0, 0},
        {EWOULDBLOCK, 10035},
        {ECONNREFUSED, 10061},
        {ECONNRESET, 10054},
        {EPIPE, 10054},
        {ENOTCONN, 10057},
        {ETIMEDOUT, 10060},
        {EHOSTUNREACH, 10065},
        {EIO, 10100 + EIO},  // no counterpart: kept recognisable
        {10054, 10054},      // already a socket number
    };
    for (const auto& [system, code] : cases) EXPECT_EQ(socketErrorFromErrno(system), code) << system;

    EXPECT_EQ(resolverErrorCode(EAI_NONAME), 11001);
    EXPECT_EQ(resolverErrorCode(EAI_AGAIN), 11002);
    EXPECT_EQ(resolverErrorCode(EAI_FAIL), 11003);
    EXPECT_EQ(resolverErrorCode(EAI_NODATA), 11004);
    EXPECT_EQ(resolverErrorCode(HOST_NOT_FOUND, true), 11001);
    EXPECT_EQ(resolverErrorCode(NO_DATA, true), 11004);
}

}  // namespace
}  // namespace morvane
