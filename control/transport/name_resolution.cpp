#include "control/transport/name_resolution.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "control/engine/socket_errors.h"

namespace morvane {
namespace {

struct AddrInfoFree {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoFree>;

int firstAddress(const std::string& name, int family, AddrInfoList& list) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int status = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
    list.reset(found);
    if (status != 0) return resolverErrorCode(status);
    if (found == nullptr || found->ai_addr == nullptr) return resolverErrorCode(EAI_NODATA);
    return 0;
}

int resolveIPv6(std::string_view host, HostAddress& address) {
    std::string name(host);
    std::uint32_t scope = 0;
    if (const auto percent = name.find('%'); percent != std::string::npos) {
        const std::string suffix = name.substr(percent + 1);
        name.resize(percent);
        char* end = nullptr;
        const unsigned long number = std::strtoul(suffix.c_str(), &end, 10);
        scope =
            (!suffix.empty() && *end == '\0') ? static_cast<std::uint32_t>(number) : ::if_nametoindex(suffix.c_str());
    }
    AddrInfoList list;
    if (const int code = firstAddress(name, AF_INET6, list)) return code;
    sockaddr_in6 socketAddress{};
    std::memcpy(&socketAddress, list->ai_addr, std::min<std::size_t>(list->ai_addrlen, sizeof socketAddress));
    if (scope != 0) socketAddress.sin6_scope_id = scope;
    address.ipv6 = socketAddress;
    return 0;
}

int resolveIPv4(std::string_view host, bool useGetAddrInfo, HostAddress& address) {
    const std::string name(host);
    in_addr dotted{};
    if (::inet_pton(AF_INET, name.c_str(), &dotted) == 1) {
        address.ipv4 = dotted.s_addr;
        return 0;
    }
    if (useGetAddrInfo) {
        AddrInfoList list;
        if (const int code = firstAddress(name, AF_INET, list)) return code;
        address.ipv4 = reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
        return 0;
    }
    const hostent* entry = ::gethostbyname(name.c_str());
    if (entry == nullptr) return resolverErrorCode(h_errno, true);
    if (entry->h_addrtype != AF_INET || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
        return resolverErrorCode(NO_DATA, true);
    }
    std::memcpy(&address.ipv4, entry->h_addr_list[0], sizeof address.ipv4);
    return 0;
}

}  // namespace

int resolveHost(std::string_view host, const ResolveOptions& options, HostAddress& address) {
    address = {};
    if (host.empty()) return 0;
    switch (options.mode) {
        case IPv6Mode::Only: return resolveIPv6(host, address);
        case IPv6Mode::Prefer:
            if (resolveIPv6(host, address) == 0) return 0;
            address = {};
            return resolveIPv4(host, options.useGetAddrInfo, address);
        case IPv6Mode::Off: break;
    }
    return resolveIPv4(host, options.useGetAddrInfo, address);
}

std::string ipv4Text(std::uint32_t networkOrder) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&networkOrder);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

}  // namespace morvane
