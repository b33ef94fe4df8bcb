// Test support: an in-memory ByteStream that stands at the bottom of a stack
// in place of the socket, with a scripted peer.
//
// The script is a queue of what the peer does, one step per turn of event
// processing (the stack's wait steps run the turns): bytes it sends, an
// orderly end or a reset. Reads can be cut to one byte each, sends can be
// made to report would-block, and the Nth connect, send or receive can fail
// with a chosen error. What the layers above write is kept for the test to
// read back.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "control/engine/byte_stream.h"
#include "control/engine/engine_context.h"

namespace morvane::testing {

class TestStream final : public ByteStream, private EventPump {
public:
    // Becomes the context's event pump for its lifetime.
    explicit TestStream(EngineContext& context);
    ~TestStream() override;
    TestStream(const TestStream&) = delete;
    TestStream& operator=(const TestStream&) = delete;

    // The script.
    TestStream& peerSends(std::string_view bytes);
    // The peer ends the connection: 0 for an orderly end, else the error
    // the stream reports (10054 for a reset).
    TestStream& peerCloses(int code = 0);
    // Each read hands over one byte at most.
    void setOneBytePerRead(bool on) { oneBytePerRead_ = on; }
    // The next `count` sends take nothing and report would-block; a turn
    // later the stream is writable again.
    void blockSends(int count) { blockedSends_ = count; }
    // The peer answering what it is sent: called after every send that went
    // through, with everything written since the last takeWritten(). It may
    // add to the script.
    using Responder = std::function<void(TestStream& stream, const std::string& written)>;
    void setResponder(Responder responder) { responder_ = std::move(responder); }
    // The nth (1-based, counted from the stream's creation) connect, send or
    // receive fails with `code`. A failed connect is reported on the next
    // turn, as a refused connection is; a failed send returns the code; a
    // failed receive ends the connection with it.
    void failConnect(int nth, int code) { failConnectAt_ = {nth, code}; }
    void failSend(int nth, int code) { failSendAt_ = {nth, code}; }
    void failReceive(int nth, int code) { failReceiveAt_ = {nth, code}; }

    // What happened.
    const std::string& written() const { return written_; }
    std::string takeWritten();
    int connects() const { return connects_; }
    int sends() const { return sends_; }
    int closes() const { return closes_; }
    const std::string& host() const { return host_; }
    int port() const { return port_; }
    bool scriptDone() const { return script_.empty(); }

    // Turns of event processing until nothing is left to happen or `turns`
    // have run; the stack's own wait steps run the same turns.
    void play(int turns = 1000);

    // ByteStream.
    void setListener(StreamListener* listener) override { listener_ = listener; }
    int connect(std::string_view host, int port) override;
    int send(std::span<const std::uint8_t> data, std::size_t* accepted = nullptr) override;
    void setAcceptData(bool accept) override { acceptData_ = accept; }
    bool acceptData() const override { return acceptData_; }
    int close(int errorCode = 0) override;
    bool isOpen() const override { return open_; }
    bool isConnected() const override { return open_ && connected_; }

private:
    struct Fault {
        int nth = 0;
        int code = 0;
    };
    struct Step {
        std::string bytes;
        bool closes = false;
        int closeCode = 0;
    };

    bool pumpEvents(std::chrono::milliseconds step) override;
    // One event, if there is one due; false when nothing happened.
    bool runTurn();
    void end(int code);

    EngineContext& context_;
    StreamListener* listener_ = nullptr;
    std::deque<Step> script_;

    bool open_ = false;
    bool connected_ = false;
    bool connectPending_ = false;
    int connectResult_ = 0;
    bool acceptData_ = true;
    bool writablePending_ = false;
    bool delivering_ = false;
    bool oneBytePerRead_ = false;
    int blockedSends_ = 0;

    Fault failConnectAt_;
    Fault failSendAt_;
    Fault failReceiveAt_;
    int connects_ = 0;
    int sends_ = 0;
    int receives_ = 0;
    int closes_ = 0;

    std::string host_;
    int port_ = 0;
    std::string written_;
    Responder responder_;
};

}  // namespace morvane::testing
