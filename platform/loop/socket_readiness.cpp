#include "platform/loop/socket_readiness.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace platform::loop {
namespace {

int pendingSocketError(int socket) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
}

}  // namespace

SocketReadiness::SocketReadiness() {
    epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (epollFd_ >= 0 && wakeFd_ >= 0) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = wakeFd_;
        if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &event) != 0) {
            ::close(wakeFd_);
            wakeFd_ = -1;
        }
    }
}

SocketReadiness::~SocketReadiness() {
    if (wakeFd_ >= 0) ::close(wakeFd_);
    if (epollFd_ >= 0) ::close(epollFd_);
}

void SocketReadiness::watch(int socket, TargetId target, std::uint32_t messageId, std::uint32_t events) {
    Watch& watch = watches_[socket];
    watch.target = target;
    watch.messageId = messageId;
    watch.armed = events;
    updateInterest(socket, watch);
}

void SocketReadiness::rearm(int socket, std::uint32_t events) {
    auto found = watches_.find(socket);
    if (found == watches_.end()) return;
    found->second.armed |= events;
    updateInterest(socket, found->second);
}

std::optional<SocketReadiness::Owner> SocketReadiness::forget(int socket) {
    auto found = watches_.find(socket);
    if (found == watches_.end()) return std::nullopt;
    if (found->second.inEpoll) ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, socket, nullptr);
    const Owner owner{found->second.target, found->second.messageId};
    watches_.erase(found);
    return owner;
}

std::vector<int> SocketReadiness::socketsOf(TargetId target) const {
    std::vector<int> owned;
    for (const auto& [socket, watch] : watches_) {
        if (watch.target == target) owned.push_back(socket);
    }
    return owned;
}

void SocketReadiness::park(int socket, Watch& watch) {
    if (watch.inEpoll) ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, socket, nullptr);
    watch.inEpoll = false;
    watch.registered = 0;
}

void SocketReadiness::updateInterest(int socket, Watch& watch) {
    std::uint32_t wanted = 0;
    if (watch.armed & (kSocketRead | kSocketAccept)) wanted |= EPOLLIN;
    if (watch.armed & (kSocketWrite | kSocketConnect)) wanted |= EPOLLOUT;
    if (watch.armed & kSocketClose) wanted |= EPOLLRDHUP;
    if (wanted == 0) {
        // Hang-ups are reported whatever the interest, so a socket with nothing
        // armed leaves the set; otherwise a dead peer would keep the descriptor
        // readable and the loop watching it awake.
        park(socket, watch);
        return;
    }
    if (watch.inEpoll && watch.registered == wanted) return;
    epoll_event event{};
    event.events = wanted;
    event.data.fd = socket;
    if (::epoll_ctl(epollFd_, watch.inEpoll ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, socket, &event) == 0) {
        watch.inEpoll = true;
        watch.registered = wanted;
    }
}

void SocketReadiness::handle(int socket, std::uint32_t epollEvents, std::vector<Notice>& notices) {
    auto found = watches_.find(socket);
    if (found == watches_.end()) return;
    Watch& watch = found->second;
    const auto report = [&](std::uint32_t event, int error) {
        watch.armed &= ~event;
        notices.push_back(Notice{socket, watch.target, watch.messageId, event, error});
    };
    const std::size_t before = notices.size();

    if (watch.armed & kSocketConnect) {
        // A stream socket is not readable before its connect completes, so
        // anything but completion (writable or failed) is left for later.
        if (!(epollEvents & (EPOLLOUT | EPOLLERR | EPOLLHUP))) return;
        const int error = pendingSocketError(socket);
        report(kSocketConnect, error);
        if (error != 0) {
            // A failed connect is reported once and nothing follows it.
            watch.armed = 0;
            park(socket, watch);
            return;
        }
    }
    const bool failed = (epollEvents & (EPOLLERR | EPOLLHUP)) != 0;
    if ((epollEvents & (EPOLLIN | EPOLLHUP | EPOLLERR)) && (watch.armed & (kSocketRead | kSocketAccept))) {
        report((watch.armed & kSocketAccept) ? kSocketAccept : kSocketRead, 0);
    }
    if ((epollEvents & (EPOLLOUT | EPOLLERR)) && (watch.armed & kSocketWrite)) {
        report(kSocketWrite, 0);
    }
    if ((epollEvents & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) && (watch.armed & kSocketClose)) {
        report(kSocketClose, failed ? pendingSocketError(socket) : 0);
    }
    if (notices.size() == before) {
        // Woken for nothing the owner still asks for: narrow the interest to
        // what is armed (parking the socket when nothing is) rather than be woken
        // by the same level-triggered condition again and again.
        updateInterest(socket, watch);
        return;
    }
    // What was reported stays in the kernel's interest for now: the owner
    // usually reads and re-arms before the next gather, and then neither the
    // report nor the re-arm costs a system call. Should the condition wake a
    // gather first, the branch above narrows the interest then.
}

bool SocketReadiness::gather(std::chrono::milliseconds timeout, std::vector<Notice>& notices) {
    if (!valid()) return false;
    // A day at most: the loop above never asks for more, and it fits epoll's int.
    int wait = static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0, 86'400'000));
    // Not zeroed: epoll_wait writes the ones it reports, and zeroing all 64
    // would touch twelve cache lines on every wait.
    std::array<epoll_event, 64> events;
    int count;
    do {
        count = ::epoll_wait(epollFd_, events.data(), static_cast<int>(events.size()), wait);
        // After an interruption, look once more without waiting.
    } while (count < 0 && errno == EINTR && (wait = 0, true));
    if (count < 0) return false;
    for (int i = 0; i < count; ++i) {
        if (events[i].data.fd == wakeFd_) {
            std::uint64_t drained = 0;
            while (::read(wakeFd_, &drained, sizeof drained) > 0) {
            }
            continue;
        }
        handle(events[i].data.fd, events[i].events, notices);
    }
    return true;
}

void SocketReadiness::wake() {
    if (wakeFd_ < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
}

}  // namespace platform::loop
