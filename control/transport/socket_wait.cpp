// SocketEngine: the turn of event processing that every wait step runs, on
// the thread's loop or, when window messages are off, on the select-loop
// emulation.
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <thread>

#include "control/engine/engine_errors.h"
#include "control/engine/socket_errors.h"
#include "control/transport/socket_engine.h"
#include "platform/loop/thread_loop.h"

namespace morvane {
namespace {

using platform::loop::kSocketAccept;
using platform::loop::kSocketClose;
using platform::loop::kSocketConnect;
using platform::loop::kSocketRead;
using platform::loop::kSocketWrite;

// select() may be interrupted by a signal; it is tried this often in all.
constexpr int selectAttempts = 3;

int pendingSocketError(int socket) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return socketErrorFromErrno(errno);
    return socketErrorFromErrno(error);
}

bool peerAddressReadable(int socket) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    return ::getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
}

}  // namespace

bool SocketEngine::pumpEvents(std::chrono::milliseconds step) {
    auto& loop = platform::loop::threadLoop();
    if (useWindowsMessages_) {
        platform::loop::WaitOptions options;
        if (ignoreOtherWindowEvents_) options.onlyTarget = target_;
        if (loop.waitStep(step, options) != platform::loop::WaitOutcome::kOk) return false;
    } else {
        selectTurn(step);
    }
    return loop.targetExists(target_);
}

void SocketEngine::selectTurn(std::chrono::milliseconds step) {
    const auto started = std::chrono::steady_clock::now();
    // A turn that delivered nothing still lasts its length, so that a loop
    // of wait steps does not spin on a condition nobody takes.
    const auto finishQuietly = [&] {
        const auto left = step - (std::chrono::steady_clock::now() - started);
        if (left > std::chrono::steady_clock::duration::zero()) std::this_thread::sleep_for(left);
    };
    if (!socketOpen()) return finishQuietly();

    const int socket = socketHandle_;
    if (selfReadRequested_) {
        selfReadRequested_ = false;
        handleNotification(kSocketRead, 0);
        return;
    }

    pollfd watched{};
    watched.fd = socket;
    // Readable is asked for only when a read would be taken; otherwise
    // data that waits for AcceptData would wake every turn.
    if ((acceptData_ && !reading_) || (wantedEvents_ & kSocketConnect)) watched.events |= POLLIN;
    watched.events |= POLLPRI;
    if (wantedEvents_ & (kSocketWrite | kSocketConnect)) watched.events |= POLLOUT;

    int ready = -1;
    for (int attempt = 0; attempt < selectAttempts; ++attempt) {
        ready = ::poll(&watched, 1, static_cast<int>(step.count()));
        if (ready >= 0 || errno != EINTR) break;
    }
    if (ready < 0) {
        const int error = socketErrorFromErrno(errno);
        if (wantedEvents_ & kSocketClose) {
            wantedEvents_ &= ~kSocketClose;
            handleNotification(kSocketClose, error);
            return;
        }
        return finishQuietly();
    }
    if (ready == 0) return;

    const short seen = watched.revents;
    bool delivered = false;
    const auto stillOurs = [&] { return socketOpen() && socketHandle_ == socket; };

    if ((seen & (POLLERR | POLLPRI)) && (wantedEvents_ & kSocketConnect)) {
        // The connect failed; its error is the socket's pending one.
        wantedEvents_ &= ~kSocketConnect;
        int error = pendingSocketError(socket);
        if (error == 0 && !peerAddressReadable(socket)) error = 10057;
        handleNotification(kSocketConnect, error);
        delivered = true;
    }
    if (stillOurs() && (seen & POLLOUT)) {
        if (wantedEvents_ & kSocketConnect) {
            wantedEvents_ &= ~kSocketConnect;
            handleNotification(kSocketConnect, pendingSocketError(socket));
            delivered = true;
        }
        if (stillOurs() && (wantedEvents_ & kSocketWrite)) {
            wantedEvents_ &= ~kSocketWrite;
            handleNotification(kSocketWrite, 0);
            delivered = true;
        }
    }
    if (stillOurs() && (seen & (POLLIN | POLLHUP | POLLERR)) && (watched.events & POLLIN) && !connecting_) {
        handleNotification((wantedEvents_ & kSocketAccept) ? kSocketAccept : kSocketRead, 0);
        delivered = true;
        const int error = lastReadError_;
        if (stillOurs() && error != 0 && error != errc::wouldBlock && error != 10004 &&
            (wantedEvents_ & kSocketClose)) {
            wantedEvents_ &= ~kSocketClose;
            handleNotification(kSocketClose, error);
        }
    }
    if (!delivered) finishQuietly();
}

}  // namespace morvane
