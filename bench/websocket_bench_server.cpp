// A small, fast WebSocket server for the client benchmarks: it echoes every
// data message as it came (text or binary), answers pings, and on the text
// message "go" sends COUNT text messages of SIZE bytes. One connection at a
// time, blocking I/O, everything a read brings handled in one pass and
// answered in one write.
//
// Usage: websocket_bench_server PORT [BURST_COUNT BURST_SIZE]
//   prints "listening PORT" once ready (PORT 0: any free port). With
//   BENCH_TLS_CERT and BENCH_TLS_KEY naming a PEM certificate and key in the
//   environment, it serves wss instead.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "control/websocket/accept_key.h"
#include "control/websocket/frame.h"

namespace {

// One client connection: the socket, and the TLS session over it for wss.
struct Link {
    int fd = -1;
    SSL* tls = nullptr;
};

ssize_t receive(Link& link, char* buffer, std::size_t size) {
    if (link.tls == nullptr) return ::recv(link.fd, buffer, size, 0);
    const int n = SSL_read(link.tls, buffer, static_cast<int>(std::min<std::size_t>(size, 1 << 30)));
    return n > 0 ? n : -1;
}

bool writeAll(Link& link, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = link.tls == nullptr
                              ? ::send(link.fd, data, size, MSG_NOSIGNAL)
                              : SSL_write(link.tls, data, static_cast<int>(std::min<std::size_t>(size, 1 << 30)));
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// A byte buffer that grows without zeroing what it adds: every byte the
// server appends is written once, by the copy that puts it there.
class Bytes {
public:
    std::size_t size() const { return size_; }
    char* data() { return data_.get(); }
    // Room for `n` more bytes at the end, counted as used.
    char* extend(std::size_t n) {
        if (size_ + n > capacity_) {
            const std::size_t capacity = std::max(size_ + n, capacity_ * 2);
            std::unique_ptr<char[]> grown(new char[capacity]);
            if (size_ > 0) std::memcpy(grown.get(), data_.get(), size_);
            data_ = std::move(grown);
            capacity_ = capacity;
        }
        char* at = data_.get() + size_;
        size_ += n;
        return at;
    }
    void clear() { size_ = 0; }
    // Forgets the bytes past `size` (never grows).
    void shrink(std::size_t size) { size_ = std::min(size, size_); }

private:
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// The header of an unmasked server frame, written to end just before `end`;
// returns its length.
std::size_t headerBefore(char* end, unsigned opcode, bool fin, std::uint64_t size) {
    char header[10];
    std::size_t length = 2;
    header[0] = static_cast<char>((fin ? 0x80 : 0) | opcode);
    if (size < 126) {
        header[1] = static_cast<char>(size);
    } else if (size < 65536) {
        header[1] = 126;
        header[2] = static_cast<char>(size >> 8);
        header[3] = static_cast<char>(size & 0xFF);
        length = 4;
    } else {
        header[1] = 127;
        for (int i = 0; i < 8; ++i) header[2 + i] = static_cast<char>((size >> (56 - 8 * i)) & 0xFF);
        length = 10;
    }
    std::memcpy(end - length, header, length);
    return length;
}

void appendFrame(Bytes& out, unsigned opcode, const char* payload, std::size_t size) {
    char header[10];
    const std::size_t length = headerBefore(header + sizeof header, opcode, true, size);
    char* at = out.extend(length + size);
    std::memcpy(at, header + sizeof header - length, length);
    if (size > 0) std::memcpy(at + length, payload, size);
}

// Answers the upgrade; false when the request is not one.
bool handshake(Link& link, std::string& pending) {
    char buffer[8192];
    while (pending.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = receive(link, buffer, sizeof buffer);
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
    const std::string response =
        "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Accept: " +
        morvane::websocket::acceptValue(key) + "\r\n\r\n";
    return writeAll(link, response.data(), response.size());
}

void serve(Link& link, long burstCount, long burstSize) {
    std::string pending;
    if (!handshake(link, pending)) return;
    constexpr std::size_t readSize = 1 << 20;
    constexpr std::size_t headerRoom = 10;
    // Received bytes, read straight into place; those before `begin` are handled.
    Bytes in;
    std::size_t begin = 0;
    if (!pending.empty()) std::memcpy(in.extend(pending.size()), pending.data(), pending.size());
    // The echo of the data message being received: room for its header, then
    // its payload, unmasked on the way in, so that it goes out in one write.
    Bytes reply;
    bool inMessage = false;
    unsigned messageOpcode = 0;
    Bytes out;  // answers to pings and closes, and the burst
    std::string control;
    for (;;) {
        bool replyReady = false;
        for (;;) {
            const std::size_t left = in.size() - begin;
            if (left < 2) break;
            const auto* p = reinterpret_cast<const unsigned char*>(in.data() + begin);
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
            const std::size_t keyLength = masked ? 4 : 0;
            if (left < header + keyLength + size) break;
            const unsigned char* mask = p + header;
            const char* payload = reinterpret_cast<const char*>(p + header + keyLength);
            begin += header + keyLength + size;
            auto unmasked = [&](char* to) {
                if (masked) {
                    morvane::websocket::MaskKey key;
                    std::memcpy(key.data(), mask, key.size());
                    // The control's own unmasking: the server must not be
                    // what a client benchmark measures.
                    morvane::websocket::copyMasked(reinterpret_cast<std::uint8_t*>(to),
                                                   {reinterpret_cast<const std::uint8_t*>(payload), size}, key);
                } else if (size > 0)
                    std::memcpy(to, payload, size);
            };
            if (opcode >= 8) {
                control.resize(size);
                unmasked(control.data());
                if (opcode == 8) {
                    appendFrame(out, 8, control.data(), control.size());
                    writeAll(link, out.data(), out.size());
                    return;
                }
                if (opcode == 9) appendFrame(out, 10, control.data(), control.size());
                continue;
            }
            if (!inMessage) {
                reply.clear();
                reply.extend(headerRoom);
                messageOpcode = opcode;
                inMessage = true;
            }
            unmasked(reply.extend(size));
            if (!fin) continue;
            inMessage = false;
            const std::size_t length = reply.size() - headerRoom;
            if (messageOpcode == 1 && length == 2 && std::memcmp(reply.data() + headerRoom, "go", 2) == 0 &&
                burstCount > 0) {
                const std::string body(static_cast<std::size_t>(burstSize), 'x');
                for (long i = 0; i < burstCount; ++i) appendFrame(out, 1, body.data(), body.size());
            } else {
                replyReady = true;
                break;  // the echo goes out before anything else is read
            }
        }
        if (out.size() > 0) {
            if (!writeAll(link, out.data(), out.size())) return;
            out.clear();
        }
        if (replyReady) {
            const std::size_t length = reply.size() - headerRoom;
            const std::size_t header = headerBefore(reply.data() + headerRoom, messageOpcode, true, length);
            if (!writeAll(link, reply.data() + headerRoom - header, header + length)) return;
            continue;
        }
        // Unhandled bytes move to the front only when there is no room behind them.
        if (begin == in.size()) {
            in.clear();
            begin = 0;
        } else if (begin > 0) {
            const std::size_t rest = in.size() - begin;
            std::memmove(in.data(), in.data() + begin, rest);
            in.shrink(rest);
            begin = 0;
        }
        const std::size_t had = in.size();
        char* room = in.extend(readSize);
        const ssize_t n = receive(link, room, readSize);
        if (n <= 0) return;
        in.shrink(had + static_cast<std::size_t>(n));
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
    // wss: one server context for every connection.
    SSL_CTX* tls = nullptr;
    const char* certificate = std::getenv("BENCH_TLS_CERT");
    const char* key = std::getenv("BENCH_TLS_KEY");
    if (certificate != nullptr && key != nullptr) {
        tls = SSL_CTX_new(TLS_server_method());
        if (tls == nullptr || SSL_CTX_use_certificate_chain_file(tls, certificate) != 1 ||
            SSL_CTX_use_PrivateKey_file(tls, key, SSL_FILETYPE_PEM) != 1) {
            ERR_print_errors_fp(stderr);
            return 1;
        }
    }
    std::printf("listening %u\n", ntohs(address.sin_port));
    std::fflush(stdout);
    for (;;) {
        const int client = ::accept(server, nullptr, nullptr);
        if (client < 0) continue;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        Link link{client, nullptr};
        if (tls != nullptr) {
            link.tls = SSL_new(tls);
            SSL_set_fd(link.tls, client);
            if (SSL_accept(link.tls) != 1) {
                ERR_clear_error();
                SSL_free(link.tls);
                ::close(client);
                continue;
            }
        }
        serve(link, burstCount, burstSize);
        if (link.tls != nullptr) {
            SSL_shutdown(link.tls);
            SSL_free(link.tls);
        }
        ::close(client);
    }
}
