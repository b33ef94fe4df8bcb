#include "control/engine/test_stream.h"

#include <thread>

#include "control/engine/engine_errors.h"
#include "control/engine/socket_errors.h"

namespace morvane::testing {

TestStream::TestStream(EngineContext& context) : context_(context) { context_.waiter().setPump(this); }

TestStream::~TestStream() {
    if (context_.waiter().pump() == this) context_.waiter().setPump(nullptr);
}

TestStream& TestStream::peerSends(std::string_view bytes) {
    script_.push_back({std::string(bytes), false, 0});
    return *this;
}

TestStream& TestStream::peerCloses(int code) {
    script_.push_back({{}, true, code});
    return *this;
}

std::string TestStream::takeWritten() {
    std::string taken = std::move(written_);
    written_.clear();
    return taken;
}

int TestStream::connect(std::string_view host, int port) {
    if (open_) return context_.fail(errc::alreadyConnected, errtext::alreadyConnected);
    ++connects_;
    host_ = host;
    port_ = port;
    open_ = true;
    connected_ = false;
    connectPending_ = true;
    connectResult_ = connects_ == failConnectAt_.nth ? failConnectAt_.code : 0;
    return 0;
}

int TestStream::send(std::span<const std::uint8_t> data, std::size_t* accepted) {
    if (accepted) *accepted = 0;
    if (!isConnected()) return context_.failSocket(errc::socketNotConnected);
    if (data.empty()) return 0;
    ++sends_;
    if (sends_ == failSendAt_.nth) return context_.failSocket(failSendAt_.code);
    if (blockedSends_ > 0) {
        --blockedSends_;
        writablePending_ = true;
        return context_.failSocket(errc::wouldBlock);
    }
    written_.append(reinterpret_cast<const char*>(data.data()), data.size());
    if (accepted) *accepted = data.size();
    context_.waiter().recordSend(data.size());
    if (responder_) {
        // A copy runs, so that the responder may replace itself.
        const Responder responder = responder_;
        responder(*this, written_);
    }
    return 0;
}

int TestStream::close(int errorCode) {
    if (!open_) return 0;
    ++closes_;
    const bool wasConnected = connected_;
    open_ = false;
    connected_ = false;
    connectPending_ = false;
    if (wasConnected && listener_) {
        listener_->streamClosed(errorCode, errorCode == 0 ? std::string() : socketErrorDescription(errorCode));
    }
    return 0;
}

void TestStream::end(int code) {
    if (code != 0) context_.raiseConnectionStatus("Remote host disconnected.", code);
    close(code);
}

bool TestStream::runTurn() {
    if (connectPending_) {
        connectPending_ = false;
        const int code = connectResult_;
        if (code != 0) {
            open_ = false;
            context_.failSocket(code);
        } else {
            connected_ = true;
        }
        if (listener_) listener_->streamConnected(code);
        return true;
    }
    if (!isConnected()) return false;
    if (writablePending_) {
        writablePending_ = false;
        if (listener_) listener_->streamReadyToSend();
        return true;
    }
    // A handler running inside a delivery does not get the next one, as a
    // socket's read handler is not entered twice.
    if (script_.empty() || delivering_ || !acceptData_) return false;
    Step& next = script_.front();
    if (next.closes) {
        const int code = next.closeCode;
        script_.pop_front();
        end(code);
        return true;
    }
    ++receives_;
    if (receives_ == failReceiveAt_.nth) {
        script_.pop_front();
        end(failReceiveAt_.code);
        return true;
    }
    const std::size_t count = oneBytePerRead_ ? 1 : next.bytes.size();
    const std::string piece = next.bytes.substr(0, count);
    next.bytes.erase(0, count);
    if (next.bytes.empty()) script_.pop_front();
    delivering_ = true;
    if (listener_) {
        listener_->streamReceived({reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size()}, false);
    }
    delivering_ = false;
    return true;
}

bool TestStream::pumpEvents(std::chrono::milliseconds step) {
    // A turn with nothing to do lasts its length, so that deadlines pass as
    // they would on a quiet connection.
    if (!runTurn()) std::this_thread::sleep_for(step);
    return true;
}

void TestStream::play(int turns) {
    for (int i = 0; i < turns; ++i) {
        if (!runTurn()) break;
    }
}

}  // namespace morvane::testing
