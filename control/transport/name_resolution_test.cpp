#include "control/transport/name_resolution.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace morvane {
namespace {

TEST(NameResolutionTest, DottedAddressesAndLocalNames) {
    HostAddress address;
    EXPECT_EQ(resolveHost("127.0.0.1", {}, address), 0);
    EXPECT_EQ(ipv4Text(address.ipv4), "127.0.0.1");
    EXPECT_FALSE(address.isIPv6());

    for (bool getAddrInfo : {true, false}) {
        EXPECT_EQ(resolveHost("localhost", {IPv6Mode::Off, getAddrInfo}, address), 0);
        EXPECT_EQ(ipv4Text(address.ipv4), "127.0.0.1") << getAddrInfo;
    }
    EXPECT_EQ(resolveHost("", {}, address), 0);
    EXPECT_TRUE(address.empty());
    EXPECT_EQ(ipv4Text(htonl(0x0A000102)), "10.0.1.2");
}

TEST(NameResolutionTest, UnresolvableNameLeavesNoAddress) {
    HostAddress address;
    address.ipv4 = 1;
    const int code = resolveHost("no-such-host.invalid", {}, address);
    EXPECT_GE(code, 11001);
    EXPECT_LE(code, 11004);
    EXPECT_TRUE(address.empty());
}

TEST(NameResolutionTest, IPv6OnlyAndPreferred) {
    HostAddress address;
    EXPECT_EQ(resolveHost("::1", {IPv6Mode::Only}, address), 0);
    ASSERT_TRUE(address.isIPv6());
    EXPECT_TRUE(IN6_IS_ADDR_LOOPBACK(&address.ipv6->sin6_addr));

    EXPECT_EQ(resolveHost("fe80::1%7", {IPv6Mode::Only}, address), 0);
    ASSERT_TRUE(address.isIPv6());
    EXPECT_EQ(address.ipv6->sin6_scope_id, 7u);

    // An IPv4 text has no IPv6 form: "2" falls back, IPv6-only fails.
    EXPECT_EQ(resolveHost("127.0.0.1", {IPv6Mode::Prefer}, address), 0);
    EXPECT_FALSE(address.isIPv6());
    EXPECT_EQ(ipv4Text(address.ipv4), "127.0.0.1");
    EXPECT_NE(resolveHost("127.0.0.1", {IPv6Mode::Only}, address), 0);
    EXPECT_TRUE(address.empty());
    EXPECT_EQ(resolveHost("::1", {IPv6Mode::Prefer}, address), 0);
    EXPECT_TRUE(address.isIPv6());
}

}  // namespace
}  // namespace morvane
