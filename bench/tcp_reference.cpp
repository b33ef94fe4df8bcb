// The physical reference for the client benchmarks: the same workloads as
// morvane --bench over plain TCP on loopback, no framing at all. The echo
// server is a process of its own, as the WebSocket server is for morvane,
// so that both pay the same cost for every wake-up across processes.
//
// Usage: tcp_reference latency|throughput|burst COUNT SIZE [block|epoll|uring]
// Prints one JSON line in the format morvane --bench uses. With
// BENCH_SERVER_CPU=N in the environment the echo process keeps to CPU N,
// wherever the client was placed.
//
// The last argument says how the latency client waits for each echo. A
// blocking receive (the default) is the cheapest wait there is, and the way
// a synchronous client waits. A client that keeps a message loop running
// while it waits cannot block in the receive: it waits for readiness first
// (epoll, then the receive), or has the receive completed within its wait
// (io_uring, one system call for both). What those cost over the blocking
// receive is the floor under any loop-driven client on the machine.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/blocking_io.h"

#ifdef TCP_REFERENCE_URING
#include <liburing.h>
#endif

namespace {

using bench::percentile;
using bench::readAll;
using bench::writeAll;

using Clock = std::chrono::steady_clock;

enum class Wait { Block, Epoll, Uring };

// Waits in epoll_wait before every receive of a non-blocking socket.
bool readAllAfterEpoll(int epoll, int fd, char* data, std::size_t size) {
    while (size > 0) {
        epoll_event ready;
        if (::epoll_wait(epoll, &ready, 1, -1) < 0 && errno != EINTR) return false;
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;
        if (n < 0) continue;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

#ifdef TCP_REFERENCE_URING
// Has the ring receive while it waits: one io_uring_enter per receive.
bool readAllThroughRing(io_uring& ring, int fd, char* data, std::size_t size) {
    while (size > 0) {
        io_uring_sqe* entry = io_uring_get_sqe(&ring);
        io_uring_prep_recv(entry, fd, data, size, 0);
        if (io_uring_submit_and_wait(&ring, 1) < 0) return false;
        io_uring_cqe* done = nullptr;
        if (io_uring_peek_cqe(&ring, &done) != 0) return false;
        const int n = done->res;
        io_uring_cqe_seen(&ring, done);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}
#endif

void noDelay(int fd) {
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string waitName = argc == 5 ? argv[4] : "block";
    const Wait wait = waitName == "epoll" ? Wait::Epoll : waitName == "uring" ? Wait::Uring : Wait::Block;
    if ((argc != 4 && argc != 5) || (wait == Wait::Block && waitName != "block")) {
        std::fprintf(stderr, "usage: %s latency|throughput|burst COUNT SIZE [block|epoll|uring]\n", argv[0]);
        return 2;
    }
    const std::string workload = argv[1];
    const long count = std::atol(argv[2]);
    const std::size_t size = static_cast<std::size_t>(std::atol(argv[3]));
    const bool burst = workload == "burst";
    if (wait != Wait::Block && workload != "latency") {
        std::fprintf(stderr, "tcp_reference: only the latency workload waits otherwise than blocking\n");
        return 2;
    }
#ifdef TCP_REFERENCE_URING
    io_uring ring;
    // Completions are run in the wait that asks for them, as a loop that is
    // the ring's only user would have them; older kernels run them at once.
    if (wait == Wait::Uring &&
        io_uring_queue_init(4, &ring, IORING_SETUP_SINGLE_ISSUER | IORING_SETUP_DEFER_TASKRUN) < 0 &&
        io_uring_queue_init(4, &ring, 0) < 0) {
        std::fprintf(stderr, "tcp_reference: io_uring is not available here\n");
        return 3;
    }
#else
    if (wait == Wait::Uring) {
        std::fprintf(stderr, "tcp_reference: built without liburing\n");
        return 3;
    }
#endif

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
    const int epoll = wait == Wait::Block ? -1 : ::epoll_create1(EPOLL_CLOEXEC);
    if (wait != Wait::Block) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        epoll_event interest{};
        interest.events = EPOLLIN;
        interest.data.fd = fd;
        ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &interest);
    }
    const auto receive = [&](char* data, std::size_t n) {
        switch (wait) {
            case Wait::Epoll: return readAllAfterEpoll(epoll, fd, data, n);
#ifdef TCP_REFERENCE_URING
            case Wait::Uring: return readAllThroughRing(ring, fd, data, n);
#endif
            default: return readAll(fd, data, n);
        }
    };
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
            ok = writeAll(fd, out.data(), size) && receive(in.data(), size) &&
                 std::memcmp(out.data(), in.data(), size) == 0;
            latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
            checked += ok ? 1 : 0;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(fd);
    ::waitpid(echo, nullptr, 0);
    std::printf("{\"client\":\"tcp%s\",\"workload\":\"%s\",\"ok\":%s,\"messages\":%ld,\"bytes\":%ld,\"seconds\":%.6f",
                wait == Wait::Block ? "" : ("-" + waitName).c_str(), workload.c_str(), ok ? "true" : "false", checked,
                checked * static_cast<long>(size), seconds);
    if (workload == "latency") {
        std::printf(",\"median_us\":%.1f,\"p99_us\":%.1f", percentile(latencies, 0.5), percentile(latencies, 0.99));
    }
    std::printf("}\n");
    return ok ? 0 : 1;
}
