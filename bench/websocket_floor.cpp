// The least a WebSocket client can do for the client workloads, as a floor
// to set the others against: one blocking socket, each message framed and
// masked into one write (as the protocol asks of every client), each echo's
// frame read straight into place and compared. No events, no text
// conversion, no copies for a caller. What it loses to plain TCP is the
// protocol's own cost on this machine, not any client's.
//
// Usage: websocket_floor latency|throughput URL COUNT SIZE
//   URL is ws://127.0.0.1:PORT/PATH; latency sends text messages, throughput
//   binary ones. Prints one JSON line in the format morvane --bench uses.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "bench/blocking_io.h"
#include "control/websocket/accept_key.h"
#include "control/websocket/frame.h"
#include "control/websocket/frame_writer.h"
#include "control/websocket/random_source.h"

namespace {

using bench::percentile;
using bench::readAll;
using bench::writeAll;

using Clock = std::chrono::steady_clock;
namespace ws = morvane::websocket;

// Upgrades the connection; false unless the server switched protocols with
// the right proof of the key.
bool handshake(int fd, const std::string& host, const std::string& path) {
    const std::optional<std::string> fresh = ws::makeWebSocketKey(ws::systemRandom());
    if (!fresh) return false;
    const std::string& key = *fresh;
    const std::string request = "GET " + path + " HTTP/1.1\r\nHost: " + host +
                                "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: " + key +
                                "\r\nSec-WebSocket-Version: 13\r\n\r\n";
    if (!writeAll(fd, reinterpret_cast<const std::uint8_t*>(request.data()), request.size())) return false;
    // Byte by byte up to the blank line, so that no frame byte is taken.
    std::string response;
    char c;
    while (response.find("\r\n\r\n") == std::string::npos) {
        if (::recv(fd, &c, 1, 0) != 1 || response.size() > 8192) return false;
        response += c;
    }
    return response.starts_with("HTTP/1.1 101") && response.find(ws::acceptValue(key)) != std::string::npos;
}

// Frames `payload` as one masked message into `out`; false when the random
// source gives no key.
bool frameMessage(ws::FrameBuffer& out, std::uint8_t opcode, std::span<const std::uint8_t> payload) {
    ws::FrameHeader header{.fin = true, .opcode = opcode, .masked = true};
    if (!ws::systemRandom().fill(header.key)) return false;
    out.clear();
    ws::appendFrame(out, header, payload);
    return true;
}

// Reads whole unfragmented data messages (the benchmark servers send
// nothing else). What one receive brings beyond a message stays for the
// next: a short echo takes one system call, header and payload together.
class MessageReader {
public:
    explicit MessageReader(int fd) : fd_(fd), stash_(64 * 1024) {}

    bool next(std::vector<std::uint8_t>& payload) {
        if (!fill(2) || (stash_[begin_] & 0x80) == 0 || (stash_[begin_ + 1] & 0x80) != 0) return false;
        std::uint64_t length = stash_[begin_ + 1] & 0x7F;
        std::size_t head = 2;
        if (length >= 126) {
            const std::size_t extra = length == 126 ? 2 : 8;
            if (!fill(2 + extra)) return false;
            length = 0;
            for (std::size_t i = 0; i < extra; ++i) length = length << 8 | stash_[begin_ + 2 + i];
            head += extra;
        }
        begin_ += head;
        payload.resize(length);
        const std::size_t stashed = std::min<std::size_t>(length, end_ - begin_);
        std::memcpy(payload.data(), stash_.data() + begin_, stashed);
        begin_ += stashed;
        // The rest of a long payload goes straight into place.
        return readAll(fd_, payload.data() + stashed, payload.size() - stashed);
    }

private:
    // At least `wanted` unread bytes in the stash.
    bool fill(std::size_t wanted) {
        if (end_ - begin_ >= wanted) return true;
        std::memmove(stash_.data(), stash_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
        while (end_ < wanted) {
            const ssize_t n = ::recv(fd_, stash_.data() + end_, stash_.size() - end_, 0);
            if (n <= 0) return false;
            end_ += static_cast<std::size_t>(n);
        }
        return true;
    }

    int fd_;
    std::vector<std::uint8_t> stash_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    const std::string workload = argc == 5 ? argv[1] : "";
    if (workload != "latency" && workload != "throughput") {
        std::fprintf(stderr, "usage: %s latency|throughput ws://127.0.0.1:PORT/PATH COUNT SIZE\n", argv[0]);
        return 2;
    }
    const std::string url = argv[2];
    const long count = std::atol(argv[3]);
    const std::size_t size = static_cast<std::size_t>(std::atol(argv[4]));
    const std::string prefix = "ws://127.0.0.1:";
    if (!url.starts_with(prefix) || count < 1 || size < 1) {
        std::fprintf(stderr, "websocket_floor: needs a ws://127.0.0.1:PORT/ URL, a COUNT and a SIZE of 1 or more\n");
        return 2;
    }
    const std::size_t slash = url.find('/', prefix.size());
    const std::string port = url.substr(prefix.size(), slash - prefix.size());
    const std::string path = slash == std::string::npos ? "/" : url.substr(slash);

    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(std::atoi(port.c_str())));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        !handshake(fd, "127.0.0.1:" + port, path)) {
        std::fprintf(stderr, "websocket_floor: no WebSocket connection to %s\n", url.c_str());
        return 1;
    }

    const bool text = workload == "latency";
    MessageReader reader(fd);
    std::vector<std::uint8_t> message(size), echo;
    ws::FrameBuffer frame;
    std::vector<double> latencies;
    bool ok = true;
    long checked = 0;
    const Clock::time_point start = Clock::now();
    for (long i = 0; i < count && ok; ++i) {
        std::fill(message.begin(), message.end(), static_cast<std::uint8_t>('a' + i % 26));
        const Clock::time_point sent = Clock::now();
        ok = frameMessage(frame, text ? ws::kOpText : ws::kOpBinary, message) &&
             writeAll(fd, frame.data(), frame.size()) && reader.next(echo) && echo == message;
        latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
        checked += ok ? 1 : 0;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ::close(fd);
    std::printf(
        "{\"client\":\"ws-floor\",\"workload\":\"%s\",\"ok\":%s,\"messages\":%ld,\"bytes\":%ld,\"seconds\":%.6f",
        workload.c_str(), ok ? "true" : "false", checked, checked * static_cast<long>(size), seconds);
    if (text)
        std::printf(",\"median_us\":%.1f,\"p99_us\":%.1f", percentile(latencies, 0.5), percentile(latencies, 0.99));
    std::printf("}\n");
    return ok ? 0 : 1;
}
