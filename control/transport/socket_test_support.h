// What the socket engine's tests share: the engine with the layer above it
// played by the test (it records what comes up through StreamListener and
// what the context raises through the event sink), and a listening socket on
// loopback to connect it to.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "control/engine/byte_stream.h"
#include "control/engine/engine_context.h"
#include "control/engine/engine_events.h"
#include "control/transport/proxy_settings.h"
#include "control/transport/socket_engine.h"

namespace morvane::socket_test {

struct Status {
    std::string text;
    int code;
};

// Records what the context raises through the control's event sink.
class RecordingSink : public IgnoringEvents {
public:
    std::vector<Status> statuses;
    std::vector<Status> errors;

    void connectionStatus(const std::string& text, std::int16_t code, const std::string&) override {
        statuses.push_back({text, code});
    }
    void error(std::int16_t code, const std::string& text) override { errors.push_back({text, code}); }

    bool sawStatus(std::string_view text, int code) const {
        for (const auto& s : statuses) {
            if (s.text == text && s.code == code) return true;
        }
        return false;
    }
};

// A socket engine as the stack holds it: on its own context, reading the
// proxy settings (which join Config as the control registers them), with
// the test as the layer above.
class SocketStack : public StreamListener {
public:
    explicit SocketStack(const EngineEnvironment& environment = {}) : context(environment) {
        context.addSettingsTable(SettingsRank::Proxy, proxy);
        context.setEventSink(&sink);
        engine.setListener(this);
    }
    virtual ~SocketStack() {
        engine.setListener(nullptr);
        context.setEventSink(nullptr);
        context.removeSettings(&proxy);
    }
    SocketStack(const SocketStack&) = delete;
    SocketStack& operator=(const SocketStack&) = delete;

    EngineContext context;
    ProxySettings proxy;
    SocketEngine engine{context, proxy};
    RecordingSink sink;

    // What came up through the listener.
    ConnectOutcome outcome;
    std::vector<int> completions;
    std::vector<std::pair<std::string, bool>> pieces;
    std::string received;
    std::vector<int> disconnects;
    int readyCount = 0;
    // Runs inside the delivery of each piece.
    std::function<void(std::string_view)> whenData;
    // What streamReceived answers.
    int dataResult = 0;
    // While above 0, how many more bytes the test awaits, and takes into
    // room of its own when asked, at most roomSize at a time; inPlace counts
    // what came that way.
    std::size_t roomWanted = 0;
    std::size_t roomSize = 0;
    std::size_t inPlace = 0;
    std::vector<std::uint8_t> room;

    void set(std::string_view text) {
        std::string result;
        ASSERT_EQ(context.config(text, result), 0) << text << ": " << context.lastErrorText();
    }
    std::string get(std::string_view name) {
        std::string result;
        EXPECT_EQ(context.config(name, result), 0) << name;
        return result;
    }
    int config(std::string_view text) {
        std::string result;
        return context.config(text, result);
    }

    Waiter& waiter() { return context.waiter(); }
    void doEvents() { context.waiter().doEvents(); }
    int lastErrorCode() const { return context.lastErrorCode(); }
    const std::string& lastErrorText() const { return context.lastErrorText(); }

    // A blocking connect to RemoteHost:RemotePort, as the layers above run it.
    int connectAndWait() {
        outcome.reset();
        const std::string host = engine.remoteHost();
        return morvane::connectAndWait(engine, context, host, engine.remotePort(), outcome);
    }
    int sendBlocking(std::string_view data) {
        return morvane::sendBlocking(engine, context,
                                     {reinterpret_cast<const std::uint8_t*>(data.data()), data.size()});
    }

    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const auto& [text, eol] : pieces) {
            if (eol) out.push_back(text);
        }
        return out;
    }

    // StreamListener.
    void streamConnected(int code) override {
        completions.push_back(code);
        outcome.complete(code);
    }
    int streamReceived(std::span<const std::uint8_t> bytes, bool endOfLine) override {
        const std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        pieces.emplace_back(text, endOfLine);
        received += text;
        roomWanted -= std::min(roomWanted, text.size());
        if (whenData) whenData(text);
        return dataResult;
    }
    std::span<std::uint8_t> receiveRoom() override {
        room.resize(std::min(roomWanted, roomSize));
        return room;
    }
    std::size_t bytesAwaited() override { return roomWanted; }
    int receivedInPlace(std::size_t count) override {
        received.append(reinterpret_cast<const char*>(room.data()), count);
        inPlace += count;
        roomWanted -= count;
        return dataResult;
    }
    void streamReadyToSend() override { ++readyCount; }
    void streamClosed(int code, const std::string&) override { disconnects.push_back(code); }
};

// A listening socket on loopback with a port from 0.
class Listener {
public:
    explicit Listener(int family = AF_INET, int backlog = 16) {
        fd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage address{};
        socklen_t length;
        if (family == AF_INET6) {
            auto* a = reinterpret_cast<sockaddr_in6*>(&address);
            a->sin6_family = AF_INET6;
            a->sin6_addr = in6addr_loopback;
            length = sizeof *a;
        } else {
            auto* a = reinterpret_cast<sockaddr_in*>(&address);
            a->sin_family = AF_INET;
            a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof *a;
        }
        ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(fd_, backlog) == 0;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                         : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    }
    ~Listener() {
        for (int fd : accepted_) ::close(fd);
        if (fd_ >= 0) ::close(fd_);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    bool ok() const { return ok_; }
    int port() const { return port_; }
    void close() {
        ::close(fd_);
        fd_ = -1;
    }
    void closeAccepted(int fd) {
        std::erase(accepted_, fd);
        ::close(fd);
    }
    // The next connection, or -1 after 5 s. `peerPort` gets its source port.
    int accept(int* peerPort = nullptr) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) return -1;
        sockaddr_storage peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
        if (fd >= 0) accepted_.push_back(fd);
        if (peerPort) *peerPort = ntohs(reinterpret_cast<sockaddr_in*>(&peer)->sin_port);
        return fd;
    }

private:
    int fd_ = -1;
    int port_ = 0;
    bool ok_ = false;
    std::vector<int> accepted_;
};

}  // namespace morvane::socket_test
