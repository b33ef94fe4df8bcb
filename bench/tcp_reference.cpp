// The physical reference for the client benchmarks: the same workloads as
// morvane --bench over plain TCP on loopback, no framing at all. The echo
// server is a process of its own, as the WebSocket server is for morvane,
// so that both pay the same cost for every wake-up across processes.
//
// Usage: tcp_reference latency|throughput|burst COUNT SIZE
// Prints one JSON line in the format morvane --bench uses. With
// BENCH_SERVER_CPU=N in the environment the echo process keeps to CPU N,
// wherever the client was placed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool readAll(int fd, char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void noDelay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
    return values[std::max<std::size_t>(rank, 1) - 1];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s latency|throughput|burst COUNT SIZE\n", argv[0]);
        return 2;
    }
    const std::string workload = argv[1];
    const long count = std::atol(argv[2]);
    const std::size_t size = static_cast<std::size_t>(std::atol(argv[3]));
    const bool burst = workload == "burst";

    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(server, 1);
    socklen_t length = sizeof address;
    ::getsockname(server, reinterpret_cast<sockaddr*>(&address), &length);

    const pid_t echo = ::fork();
    if (echo < 0) {
        std::perror("tcp_reference: fork");
        return 1;
    }
    if (echo == 0) {
        if (const char* cpu = std::getenv("BENCH_SERVER_CPU")) {
            cpu_set_t set;
            CPU_ZERO(&set);
            CPU_SET(std::atoi(cpu), &set);
            if (::sched_setaffinity(0, sizeof set, &set) != 0) std::perror("tcp_reference: sched_setaffinity");
        }
        const int fd = ::accept(server, nullptr, nullptr);
        noDelay(fd);
        std::vector<char> buffer(std::max<std::size_t>(size, 2));
        if (burst) {
            if (readAll(fd, buffer.data(), 2)) {
                const std::string all(size * static_cast<std::size_t>(count), 'x');
                writeAll(fd, all.data(), all.size());
            }
        } else {
            for (long i = 0; i < count && readAll(fd, buffer.data(), size); ++i) writeAll(fd, buffer.data(), size);
        }
        ::close(fd);
        ::_exit(0);
    }
    ::close(server);

    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    noDelay(fd);
    std::vector<double> latencies;
    std::vector<char> out(size), in(std::max<std::size_t>(size, 1));
    bool ok = true;
    long checked = 0;
    const Clock::time_point start = Clock::now();
    if (burst) {
        ok = writeAll(fd, "go", 2);
        std::vector<char> all(size * static_cast<std::size_t>(count));
        ok = ok && readAll(fd, all.data(), all.size());
        checked = ok ? count : 0;
    } else {
        for (long i = 0; i < count && ok; ++i) {
            std::fill(out.begin(), out.end(), static_cast<char>('a' + i % 26));
            const Clock::time_point sent = Clock::now();
            ok = writeAll(fd, out.data(), size) && readAll(fd, in.data(), size) &&
                 std::memcmp(out.data(), in.data(), size) == 0;
            latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
            checked += ok ? 1 : 0;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(fd);
    ::waitpid(echo, nullptr, 0);
    std::printf("{\"client\":\"tcp\",\"workload\":\"%s\",\"ok\":%s,\"messages\":%ld,\"bytes\":%ld,\"seconds\":%.6f",
                workload.c_str(), ok ? "true" : "false", checked, checked * static_cast<long>(size), seconds);
    if (workload == "latency") {
        std::printf(",\"median_us\":%.1f,\"p99_us\":%.1f", percentile(latencies, 0.5), percentile(latencies, 0.99));
    }
    std::printf("}\n");
    return ok ? 0 : 1;
}
