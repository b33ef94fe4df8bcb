// SocketEngine: moving bytes. The read handler that takes received bytes
// through the receive buffer to the layer above, and the sends.
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "control/engine/engine_errors.h"
#include "control/engine/socket_errors.h"
#include "control/transport/socket_engine.h"
#include "platform/loop/thread_loop.h"

namespace morvane {
namespace {

using platform::loop::kSocketClose;
using platform::loop::kSocketRead;
using platform::loop::kSocketWrite;

constexpr std::string_view outOfMemoryInDataInText = "Out of memory in DataIn [TCXMsg].";

// The read errors that end a connection; the close that follows reports them.
bool endsConnection(int code) { return code == 10038 || code == 10053 || code == 10054; }

}  // namespace

void SocketEngine::setAcceptData(bool accept) {
    acceptData_ = accept;
    if (accept && socketConnected()) requestRead();
}

void SocketEngine::setEndOfLine(std::string_view endOfLine) {
    receiveBuffer_.setEndOfLine(endOfLine);
    if (socketConnected()) requestRead();
}

void SocketEngine::requestRead() {
    if (!socketOpen()) return;
    if (!useWindowsMessages_) {
        selfReadRequested_ = true;
        return;
    }
    platform::loop::threadLoop().post({target_, socketMessage, static_cast<std::uintptr_t>(socketHandle_),
                                       platform::loop::makeSocketLParam(kSocketRead, 0)});
}

void SocketEngine::postClose(int error) {
    // Queued behind whatever the loop has already gathered for the socket,
    // so a close notification that carries the peer's error comes first.
    if (!socketOpen() || !useWindowsMessages_) return;
    platform::loop::threadLoop().post({target_, socketMessage, static_cast<std::uintptr_t>(socketHandle_),
                                       platform::loop::makeSocketLParam(kSocketClose, error)});
}

void SocketEngine::deliver(const LineBuffer::Piece& piece) {
    if (listener_) handedUp(listener_->streamReceived(piece.bytes, piece.endOfLine));
}

void SocketEngine::handedUp(int code) {
    if (code == errc::outOfMemory) context_.raiseError(errc::outOfMemory, outOfMemoryInDataInText);
}

bool SocketEngine::deliverReady() {
    receiveBuffer_.setSplitCrlf(splitCrlf_);
    while (socketOpen() && acceptData_) {
        const auto piece = receiveBuffer_.next();
        if (!piece) return true;
        deliver(*piece);
    }
    return false;
}

void SocketEngine::deliverRest(bool finalRest) {
    if (!deliverReady()) return;
    if (const auto rest = receiveBuffer_.takeRest(finalRest)) deliver(*rest);
}

// The rest of a large payload is of no use until all of it is there, so the
// wait for it asks the kernel not to wake us for less (the end of the stream
// and errors still wake us at once): a reader faster than its peer would
// otherwise wake for every segment of a large message. The mark is what the
// layer above surely needs when nothing waits here, bounded as the system
// also bounds it; a few segments' worth is not worth a system call.
void SocketEngine::waitForTheRest() {
    constexpr std::size_t smallest = 32 * 1024;
    constexpr std::size_t largest = 256 * 1024;
    const std::size_t awaited = nothingHeldBack() ? listener_->bytesAwaited() : 0;
    const std::size_t bytes = awaited < smallest ? 1 : std::min(awaited, largest);
    if (bytes == lowWater_ || !socketOpen()) return;
    const int value = static_cast<int>(bytes);
    if (::setsockopt(socketHandle_, SOL_SOCKET, SO_RCVLOWAT, &value, sizeof value) == 0) lowWater_ = bytes;
}

SocketEngine::ReadEnd SocketEngine::readSocket(bool draining, int& error) {
    const std::int64_t started = maxReceiveDataTime_ > 0 ? tickCountMillis() : 0;
    // A large payload is on its way when the last wait was for its rest, or
    // may have begun in what this handler has read so far; otherwise (small
    // messages) the layers above are not asked for room at all.
    bool roomLikely = lowWater_ > 1;
    for (; socketOpen() && acceptData_ && !context_.waiter().interruptRequested(); roomLikely = true) {
        if (!deliverReady()) break;
        // With nothing waiting ahead, a listener collecting a large payload
        // may have the bytes received straight into its own room.
        const std::span<std::uint8_t> room =
            roomLikely && nothingHeldBack() ? listener_->receiveRoom() : std::span<std::uint8_t>{};
        const bool inPlace = !room.empty();
        std::span<std::uint8_t> space = inPlace ? room : receiveBuffer_.freeSpace();
        if (space.empty()) {
            // Full, and no line in it: the content goes up as it is.
            deliverRest(false);
            continue;
        }
        const ssize_t received = ::recv(socketHandle_, space.data(), space.size(), 0);
        if (received < 0) {
            if (errno == EINTR) continue;
            error = socketErrorFromErrno(errno);
            if (error == errc::wouldBlock) {
                error = 0;
                waitForTheRest();
                return ReadEnd::WouldBlock;
            }
            return ReadEnd::Failed;
        }
        if (received == 0) {
            deliverRest(true);
            // A layer that paused reception mid-way keeps the rest, and the
            // end of the stream is met again when reception resumes.
            return receiveBuffer_.empty() ? ReadEnd::PeerClosed : ReadEnd::Paused;
        }
        // The secure channel takes received bytes here instead (and logs
        // what it decrypts); the buffer then holds its plaintext.
        logTraffic(TrafficDirection::Receive, space.first(static_cast<std::size_t>(received)));
        if (inPlace) {
            if (listener_) handedUp(listener_->receivedInPlace(static_cast<std::size_t>(received)));
        } else {
            receiveBuffer_.commit(static_cast<std::size_t>(received));
        }
        if (!draining && static_cast<std::size_t>(received) < space.size()) {
            // The socket had less than there was room for, so it is most
            // likely empty now: deliver, and let the next notification say
            // otherwise rather than ask the socket once more for nothing.
            if (!deliverReady()) break;
            waitForTheRest();
            return ReadEnd::WouldBlock;
        }
        if (!draining && maxReceiveDataTime_ > 0 && tickCountMillis() - started > maxReceiveDataTime_) {
            // Let the caller's other events run; delivery goes on from here.
            requestRead();
            return ReadEnd::Paused;
        }
    }
    if (!draining && context_.waiter().interruptRequested() && socketConnected()) requestRead();
    return ReadEnd::Paused;
}

SocketEngine::ReadEnd SocketEngine::runReadHandler(bool draining) {
    reading_ = true;
    int error = 0;
    const ReadEnd end = readSocket(draining, error);
    reading_ = false;
    if (draining) return end;

    switch (end) {
        case ReadEnd::WouldBlock:
            if (socketOpen() && useWindowsMessages_)
                platform::loop::threadLoop().rearmSocket(socketHandle_, kSocketRead);
            break;
        case ReadEnd::PeerClosed:
            lastReadError_ = 0;
            // A reset may have been read as the end of the stream; the
            // loop's own close notification carries its error and comes
            // first. Select mode has no such notification.
            if (useWindowsMessages_)
                postClose(0);
            else if (pendingClose_ == PendingClose::None)
                peerClosed(0);
            break;
        case ReadEnd::Failed:
            lastReadError_ = error;
            if (endsConnection(error)) {
                postClose(error);
            } else {
                char text[48];
                std::snprintf(text, sizeof text, "socket error in recv: %d", error);
                context_.raiseError(error, text);
                context_.fail(error, text);
            }
            break;
        case ReadEnd::Paused: break;
    }

    if (pendingClose_ != PendingClose::None && socketOpen()) {
        const PendingClose kind = pendingClose_;
        pendingClose_ = PendingClose::None;
        if (kind == PendingClose::Peer)
            peerClosed(pendingCloseCode_);
        else
            disconnect(pendingCloseCode_);
    }
    return end;
}

int SocketEngine::send(std::span<const std::uint8_t> data, std::size_t* accepted) {
    if (accepted) *accepted = 0;
    if (!socketConnected()) return context_.failSocket(errc::socketNotConnected);
    if (data.empty()) return 0;

    ssize_t sent;
    do {
        sent = ::send(socketHandle_, data.data(), data.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    const std::size_t taken = sent > 0 ? static_cast<std::size_t>(sent) : 0;
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return context_.failSocket(socketErrorFromErrno(errno));

    if (taken > 0) {
        if (accepted) *accepted = taken;
        logTraffic(TrafficDirection::Send, data.first(taken));
        context_.waiter().recordSend(taken);
    }
    if (taken == data.size()) return 0;

    readyToSend_ = false;
    if (useWindowsMessages_)
        platform::loop::threadLoop().rearmSocket(socketHandle_, kSocketWrite);
    else
        wantedEvents_ |= kSocketWrite;
    return context_.failSocket(errc::wouldBlock);
}

void SocketEngine::logTraffic(TrafficDirection direction, std::span<const std::uint8_t> data) {
    if (!logsTraffic_) return;
    context_.logDebugTraffic(direction, data);
    if (recordToString_) recordedText_ += formatRecording(direction, data);
    if (!recordingPath_.empty()) appendToFile(recordingPath_, formatRecording(direction, data));
}

}  // namespace morvane
