// Server bytes through the WebSocket layer's receive path, as the socket
// engine hands them up: frames, pings answered on a real socket pair, the
// close handshake, BufferMessage, SinglePacketMode with DataInText reads, and
// the message cap. Fed whole, a byte at a time and in odd pieces, the layer
// must raise the same events, never deliver more than the cap, and never
// deliver while it holds reception back.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "control/com/engine_events.h"
#include "control/websocket/websocket_layer.h"

namespace {

using morvane::WebSocketLayer;

struct Options {
    bool bufferMessage;
    bool singlePacketMode;
    std::int32_t maxMessageSize;
};

class Sink : public morvane::IgnoringEvents {
public:
    std::vector<std::string> seen;
    const WebSocketLayer* layer = nullptr;
    std::int32_t cap = 0;

    void connectionStatus(const std::string& text, std::int16_t code, const std::string& reason) override {
        seen.push_back("S" + text + std::to_string(code) + reason);
    }
    void dataIn(std::int16_t format, std::span<const std::uint8_t> bytes, bool eom) override {
        // Only the empty last fragment of a message given in parts comes
        // without bytes: it carries the end of the message.
        if ((bytes.empty() && !eom) || bytes.size() > static_cast<std::size_t>(cap)) std::abort();
        if (!layer->acceptData()) std::abort();
        seen.push_back("D" + std::to_string(format) + (eom ? "E" : "") +
                       std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    void disconnected(std::int16_t code, const std::string& reason) override {
        seen.push_back("C" + std::to_string(code) + reason);
    }
    void error(std::int16_t code, const std::string& text) override { seen.push_back("E" + std::to_string(code) + text); }
};

// The layer on one end of a socket pair, as it stands once the upgrade has
// been accepted. What it sends (pongs, close frames) goes to the other end,
// which is drained and dropped.
class Layer : public WebSocketLayer {
public:
    Layer(const Options& options, int socket) {
        std::string ignored;
        config("BufferMessage=" + std::string(options.bufferMessage ? "True" : "False"), ignored);
        config("SinglePacketMode=" + std::string(options.singlePacketMode ? "True" : "False"), ignored);
        config("MaxMessageSize=" + std::to_string(options.maxMessageSize), ignored);
        // A full socket ends a send at once instead of waiting.
        config("TimeoutInMilliseconds=True", ignored);
        config("SelectWaitMillis=0", ignored);
        setTimeout(1);
        socketHandle_ = socket;
        connected_ = true;
        beginOpenConnection();
    }
    void receive(std::span<const std::uint8_t> bytes) { onDataReceived(bytes, false); }
};

void drain(int fd) {
    char buffer[65536];
    while (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
    }
}

std::vector<std::string> run(std::span<const std::uint8_t> input, std::size_t piece, const Options& options) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) std::abort();
    Sink sink;
    std::vector<std::string> seen;
    {
        Layer layer(options, pair[0]);
        sink.layer = &layer;
        sink.cap = options.maxMessageSize;
        layer.setEventSink(&sink);
        for (std::size_t offset = 0; offset < input.size() && layer.socketOpen(); offset += piece) {
            // What the transport would hold back meanwhile is read now.
            while (!layer.acceptData()) layer.takeDataInText();
            layer.receive(input.subspan(offset, std::min(piece, input.size() - offset)));
            drain(pair[1]);
        }
        while (layer.socketOpen() && !layer.acceptData()) layer.takeDataInText();
        layer.setEventSink(nullptr);
        seen = std::move(sink.seen);
    }
    ::close(pair[1]);
    return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const Options options{.bufferMessage = (data[0] & 1) != 0,
                          .singlePacketMode = (data[0] & 2) != 0,
                          .maxMessageSize = (data[0] & 4) ? 64 : 1 << 16};
    const std::span<const std::uint8_t> input(data + 1, size - 1);
    const auto whole = run(input, input.size() + 1, options);
    const auto bytes = run(input, 1, options);
    const auto odd = run(input, (data[0] >> 3) % 13 + 2, options);
    if (whole != bytes || whole != odd) std::abort();
    return 0;
}
