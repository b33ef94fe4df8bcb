// A small, fast WebSocket server for the client benchmarks: it echoes every
// data message as it came (text or binary), answers pings, and on the text
// message "go" sends COUNT text messages of SIZE bytes. One connection at a
// time, blocking I/O, everything a read brings handled in one pass and
// answered in one write.
//
// Usage: websocket_bench_server PORT [BURST_COUNT BURST_SIZE]
//   prints "listening PORT" once ready (PORT 0: any free port).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "control/websocket/accept_key.h"

namespace {

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void appendFrame(std::string& out, unsigned opcode, const char* payload, std::size_t size) {
    out.push_back(static_cast<char>(0x80 | opcode));
    if (size < 126) {
        out.push_back(static_cast<char>(size));
    } else if (size < 65536) {
        out.push_back(126);
        out.push_back(static_cast<char>(size >> 8));
        out.push_back(static_cast<char>(size & 0xFF));
    } else {
        out.push_back(127);
        for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<char>((size >> shift) & 0xFF));
    }
    out.append(payload, size);
}

// Unmasks eight bytes at a time: the server must not be what a client
// benchmark measures.
void unmask(std::string& payload, const unsigned char* mask) {
    std::uint64_t word = 0;
    for (int i = 0; i < 8; ++i) word |= std::uint64_t{mask[i % 4]} << (8 * i);
    std::size_t i = 0;
    for (; i + 8 <= payload.size(); i += 8) {
        std::uint64_t chunk;
        std::memcpy(&chunk, payload.data() + i, 8);
        chunk ^= word;
        std::memcpy(payload.data() + i, &chunk, 8);
    }
    for (; i < payload.size(); ++i) payload[i] = static_cast<char>(payload[i] ^ mask[i % 4]);
}

// Answers the upgrade; false when the request is not one.
bool handshake(int fd, std::string& pending) {
    char buffer[8192];
    while (pending.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0 || pending.size() > 65536) return false;
        pending.append(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t end = pending.find("\r\n\r\n") + 4;
    const std::string request = pending.substr(0, end);
    pending.erase(0, end);
    const std::string field = "Sec-WebSocket-Key:";
    std::size_t at = request.find(field);
    if (at == std::string::npos) return false;
    at += field.size();
    while (request[at] == ' ') ++at;
    const std::string key = request.substr(at, request.find("\r\n", at) - at);
    const std::string response = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                 "Sec-WebSocket-Accept: " + morvane::websocket::acceptValue(key) + "\r\n\r\n";
    return writeAll(fd, response.data(), response.size());
}

void serve(int fd, long burstCount, long burstSize) {
    std::string pending;
    if (!handshake(fd, pending)) return;
    std::vector<char> buffer(1 << 20);
    std::string message;  // a fragmented message being joined
    unsigned messageOpcode = 0;
    std::string out;
    for (;;) {
        // Handle every whole frame in what has arrived.
        std::size_t used = 0;
        for (;;) {
            const std::size_t left = pending.size() - used;
            if (left < 2) break;
            const auto* p = reinterpret_cast<const unsigned char*>(pending.data() + used);
            const bool fin = (p[0] & 0x80) != 0;
            const unsigned opcode = p[0] & 0x0F;
            std::size_t header = 2;
            std::uint64_t size = p[1] & 0x7F;
            if (size == 126) {
                if (left < 4) break;
                size = (std::uint64_t{p[2]} << 8) | p[3];
                header = 4;
            } else if (size == 127) {
                if (left < 10) break;
                size = 0;
                for (int i = 0; i < 8; ++i) size = (size << 8) | p[2 + i];
                header = 10;
            }
            const bool masked = (p[1] & 0x80) != 0;
            if (left < header + (masked ? 4 : 0) + size) break;
            const unsigned char* mask = p + header;
            std::string payload(reinterpret_cast<const char*>(p + header + (masked ? 4 : 0)), size);
            if (masked) unmask(payload, mask);
            used += header + (masked ? 4 : 0) + size;
            if (opcode == 8) {
                appendFrame(out, 8, payload.data(), payload.size());
                writeAll(fd, out.data(), out.size());
                return;
            }
            if (opcode == 9) {
                appendFrame(out, 10, payload.data(), payload.size());
                continue;
            }
            if (opcode == 10) continue;
            if (opcode != 0) messageOpcode = opcode;
            message += payload;
            if (!fin) continue;
            if (messageOpcode == 1 && message == "go" && burstCount > 0) {
                const std::string body(static_cast<std::size_t>(burstSize), 'x');
                for (long i = 0; i < burstCount; ++i) appendFrame(out, 1, body.data(), body.size());
            } else {
                appendFrame(out, messageOpcode, message.data(), message.size());
            }
            message.clear();
        }
        pending.erase(0, used);
        if (!out.empty()) {
            if (!writeAll(fd, out.data(), out.size())) return;
            out.clear();
        }
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) return;
        pending.append(buffer.data(), static_cast<std::size_t>(n));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: %s PORT [BURST_COUNT BURST_SIZE]\n", argv[0]);
        return 2;
    }
    const long burstCount = argc == 4 ? std::atol(argv[2]) : 0;
    const long burstSize = argc == 4 ? std::atol(argv[3]) : 0;
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[1])));
    if (::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(server, 16) != 0) {
        std::perror("websocket_bench_server");
        return 1;
    }
    socklen_t length = sizeof address;
    ::getsockname(server, reinterpret_cast<sockaddr*>(&address), &length);
    std::printf("listening %u\n", ntohs(address.sin_port));
    std::fflush(stdout);
    for (;;) {
        const int client = ::accept(server, nullptr, nullptr);
        if (client < 0) continue;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        serve(client, burstCount, burstSize);
        ::close(client);
    }
}
