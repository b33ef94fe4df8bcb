// Socket readiness in the manner of the platform's asynchronous select, kept
// apart from any loop: each armed event is reported once and then disarmed
// until its owner re-arms it.
//
// It sits on one epoll descriptor, and an epoll descriptor is itself readable
// whenever one of the sockets in it is ready. A foreign event loop (Qt's)
// therefore watches that single descriptor and gathers when it fires, and the
// reports keep exactly the meaning they have in the native loop: peer close
// (EPOLLRDHUP) is told apart from readable data even while data sits unread.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/loop/event_loop.h"

namespace platform::loop {

class SocketReadiness {
public:
    struct Notice {
        int socket = -1;
        TargetId target = kNoTarget;
        std::uint32_t messageId = 0;
        std::uint32_t event = 0;  // one SocketEvent
        int error = 0;
    };
    struct Owner {
        TargetId target = kNoTarget;
        std::uint32_t messageId = 0;
    };

    SocketReadiness();
    ~SocketReadiness();
    SocketReadiness(const SocketReadiness&) = delete;
    SocketReadiness& operator=(const SocketReadiness&) = delete;

    // False when the kernel refused the epoll or eventfd descriptor.
    bool valid() const { return epollFd_ >= 0 && wakeFd_ >= 0; }
    // Readable whenever a gather would find something (or after wake()).
    int descriptor() const { return epollFd_; }

    // Starts or replaces the watch of `socket`; events == 0 is the caller's to
    // turn into forget().
    void watch(int socket, TargetId target, std::uint32_t messageId, std::uint32_t events);
    void rearm(int socket, std::uint32_t events);
    // Ends the watch and says whom it reported to, so that notices already
    // handed out can be withdrawn.
    std::optional<Owner> forget(int socket);
    std::vector<int> socketsOf(TargetId target) const;

    // Waits up to `timeout` (0: only looks) and appends what became reportable,
    // in the order it is to be delivered. False when epoll itself failed.
    bool gather(std::chrono::milliseconds timeout, std::vector<Notice>& notices);

    // Async-signal-safe: makes the descriptor readable and ends a waiting gather.
    void wake();

private:
    struct Watch {
        TargetId target = kNoTarget;
        std::uint32_t messageId = 0;
        std::uint32_t armed = 0;       // events that may still be reported
        std::uint32_t registered = 0;  // epoll interest currently installed
        bool inEpoll = false;
    };

    void updateInterest(int socket, Watch& watch);
    void park(int socket, Watch& watch);
    void handle(int socket, std::uint32_t epollEvents, std::vector<Notice>& notices);

    int epollFd_ = -1;
    int wakeFd_ = -1;
    std::unordered_map<int, Watch> watches_;
};

}  // namespace platform::loop
