// Turning RemoteHost, LocalHost and FirewallHost texts into addresses.
//
// IPv4 addresses are kept as 32-bit values in network order, 0 meaning
// "none"; an IPv6 address is kept with its scope as a socket address. The
// engine connects over IPv6 exactly when an IPv6 address was resolved.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morvane {

enum class IPv6Mode : std::int32_t { Off = 0, Only = 1, Prefer = 2 };

struct HostAddress {
    std::uint32_t ipv4 = 0;
    std::optional<sockaddr_in6> ipv6;

    bool isIPv6() const { return ipv6.has_value(); }
    bool empty() const { return ipv4 == 0 && !ipv6; }
};

struct ResolveOptions {
    IPv6Mode mode = IPv6Mode::Off;
    // Names go through getaddrinfo; when off, through the older
    // gethostbyname, as callers of the original resolver expect.
    bool useGetAddrInfo = true;
};

// Resolves `host` into `address` (cleared first). Returns 0 or the
// resolver's error as 11001 to 11004 (or a socket error). An empty host
// gives an empty address and 0.
//
// IPv6 (mode Only, or first in mode Prefer): getaddrinfo for IPv6 with a "%"
// suffix taken as the scope, by number or interface name. IPv4: a dotted
// address as it stands, else the first address the resolver gives.
int resolveHost(std::string_view host, const ResolveOptions& options, HostAddress& address);

// "%u.%u.%u.%u" of an address in network order.
std::string ipv4Text(std::uint32_t networkOrder);

}  // namespace morvane
