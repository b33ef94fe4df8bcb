// What the plain reference clients share: whole writes and reads on a
// blocking socket, and the percentile of a run's round trips.
#pragma once

#include <sys/socket.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

inline bool writeAll(int fd, const void* data, std::size_t size) {
    const auto* at = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::send(fd, at, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        at += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

inline bool readAll(int fd, void* data, std::size_t size) {
    auto* at = static_cast<std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::recv(fd, at, size, 0);
        if (n <= 0) return false;
        at += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// The nearest-rank percentile; 0 for no values.
inline double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
    return values[std::max<std::size_t>(rank, 1) - 1];
}

}  // namespace bench
