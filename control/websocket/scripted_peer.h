// Test support: a scripted raw server on loopback, for the tests that must
// see exact bytes on the wire. It listens on a port from 0 and runs its
// script on a thread of its own while the engine runs wait steps on the
// test's thread. Frames are read and written here by hand, independently of
// the engine's own frame code, so that each side checks the other.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "control/websocket/accept_key.h"

namespace morvane::testing {

inline constexpr int kPeerWaitMillis = 10000;

// One frame as a client sent it, unmasked.
struct ClientFrame {
    bool fin = false;
    std::uint8_t rsv = 0;
    std::uint8_t opcode = 0;
    bool masked = false;
    std::uint8_t lengthByte = 0;  // the 7-bit length field as sent
    std::uint8_t key[4] = {};
    std::string payload;
};

// A server frame: unmasked, FIN and opcode as given, the shortest length form
// unless `lengthOverride` names a length to announce.
inline std::string serverFrame(bool fin, std::uint8_t opcode, std::string_view payload,
                               std::optional<std::uint64_t> lengthOverride = std::nullopt) {
    std::string out;
    out.push_back(static_cast<char>((fin ? 0x80 : 0) | opcode));
    const std::uint64_t length = lengthOverride.value_or(payload.size());
    if (length < 126) {
        out.push_back(static_cast<char>(length));
    } else if (length <= 0xFFFF) {
        out.push_back(126);
        out.push_back(static_cast<char>(length >> 8));
        out.push_back(static_cast<char>(length));
    } else {
        out.push_back(127);
        for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<char>(length >> shift));
    }
    out.append(payload);
    return out;
}

inline std::string closePayload(int code, std::string_view reason) {
    std::string out;
    out.push_back(static_cast<char>(code >> 8));
    out.push_back(static_cast<char>(code));
    out.append(reason);
    return out;
}

// One accepted connection, used from the script's thread.
class PeerConnection {
public:
    explicit PeerConnection(int fd) : fd_(fd) {}
    ~PeerConnection() { close(); }
    PeerConnection(const PeerConnection&) = delete;
    PeerConnection& operator=(const PeerConnection&) = delete;

    bool valid() const { return fd_ >= 0; }

    void write(std::string_view bytes) {
        std::size_t sent = 0;
        while (fd_ >= 0 && sent < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<std::size_t>(n);
        }
    }

    // Exactly `count` bytes, or nullopt when the connection ends first or
    // nothing comes for a while.
    std::optional<std::string> readExact(std::size_t count) {
        while (buffer_.size() < count) {
            if (!fill()) return std::nullopt;
        }
        std::string out = buffer_.substr(0, count);
        buffer_.erase(0, count);
        return out;
    }

    // Waits until `count` bytes have arrived, without taking them.
    bool waitForBytes(std::size_t count) {
        while (buffer_.size() < count) {
            if (!fill()) return false;
        }
        return true;
    }

    // An HTTP request head, up to and including the empty line.
    std::optional<std::string> readRequest() {
        for (;;) {
            const auto end = buffer_.find("\r\n\r\n");
            if (end != std::string::npos) {
                std::string out = buffer_.substr(0, end + 4);
                buffer_.erase(0, end + 4);
                return out;
            }
            if (!fill()) return std::nullopt;
        }
    }

    std::optional<ClientFrame> readFrame() {
        const auto head = readExact(2);
        if (!head) return std::nullopt;
        ClientFrame frame;
        const auto b0 = static_cast<std::uint8_t>((*head)[0]);
        const auto b1 = static_cast<std::uint8_t>((*head)[1]);
        frame.fin = (b0 & 0x80) != 0;
        frame.rsv = static_cast<std::uint8_t>((b0 >> 4) & 7);
        frame.opcode = b0 & 0x0F;
        frame.masked = (b1 & 0x80) != 0;
        frame.lengthByte = b1 & 0x7F;
        std::uint64_t length = frame.lengthByte;
        if (frame.lengthByte >= 126) {
            const auto extended = readExact(frame.lengthByte == 126 ? 2 : 8);
            if (!extended) return std::nullopt;
            length = 0;
            for (char c : *extended) length = (length << 8) | static_cast<std::uint8_t>(c);
        }
        if (frame.masked) {
            const auto key = readExact(4);
            if (!key) return std::nullopt;
            for (int i = 0; i < 4; ++i) frame.key[i] = static_cast<std::uint8_t>((*key)[i]);
        }
        auto payload = readExact(static_cast<std::size_t>(length));
        if (!payload) return std::nullopt;
        if (frame.masked) {
            for (std::size_t i = 0; i < payload->size(); ++i) (*payload)[i] ^= static_cast<char>(frame.key[i % 4]);
        }
        frame.payload = std::move(*payload);
        return frame;
    }

    // The request's Sec-WebSocket-Key value.
    static std::string keyOf(std::string_view request) {
        const std::string_view name = "Sec-WebSocket-Key: ";
        const auto at = request.find(name);
        if (at == std::string_view::npos) return {};
        const auto end = request.find("\r\n", at);
        return std::string(request.substr(at + name.size(), end - at - name.size()));
    }

    // Reads the upgrade request and answers 101 with the right accept value
    // and `extraHeaders` (lines ending in CR LF). Returns the request.
    std::string acceptUpgrade(std::string_view extraHeaders = {}) {
        const auto request = readRequest();
        if (!request) return {};
        write(
            "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
            "Sec-WebSocket-Accept: " +
            websocket::acceptValue(keyOf(*request)) + "\r\n" + std::string(extraHeaders) + "\r\n");
        return *request;
    }

    // Waits for the client's close frame, answers it with its own payload
    // and returns it.
    std::optional<ClientFrame> echoClose() {
        for (;;) {
            auto frame = readFrame();
            if (!frame) return std::nullopt;
            if (frame->opcode == 8) {
                write(serverFrame(true, 8, frame->payload));
                return frame;
            }
        }
    }

    // True when the client has closed its side (or reset) within the wait.
    bool waitForEnd() {
        for (;;) {
            if (!fill()) return closedByPeer_;
            buffer_.clear();
        }
    }

    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    bool fill() {
        if (fd_ < 0) return false;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, kPeerWaitMillis) != 1) return false;
        char chunk[65536];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            closedByPeer_ = true;
            return false;
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    int fd_;
    std::string buffer_;
    bool closedByPeer_ = false;
};

// The listening side and the script's thread.
class ScriptedPeer {
public:
    using Script = std::function<void(ScriptedPeer&)>;

    explicit ScriptedPeer(bool ipv6 = false) {
        fd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (ipv6) {
            sockaddr_in6 address{};
            address.sin6_family = AF_INET6;
            address.sin6_addr = in6addr_loopback;
            if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return;
        } else {
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return;
        }
        ::listen(fd_, 8);
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &length);
        port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                  : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    }
    ~ScriptedPeer() {
        join();
        if (fd_ >= 0) ::close(fd_);
    }
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    int port() const { return port_; }
    std::string url(std::string_view path = "/") const {
        return "ws://127.0.0.1:" + std::to_string(port_) + std::string(path);
    }

    void run(Script script) {
        thread_ = std::thread([this, script = std::move(script)] { script(*this); });
    }
    void join() {
        if (thread_.joinable()) thread_.join();
    }

    // The next connection, or an invalid one when none comes in time.
    std::unique_ptr<PeerConnection> accept() {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, kPeerWaitMillis) != 1) return std::make_unique<PeerConnection>(-1);
        const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        return std::make_unique<PeerConnection>(fd);
    }

private:
    int fd_ = -1;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace morvane::testing
