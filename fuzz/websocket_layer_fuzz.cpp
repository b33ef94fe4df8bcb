// Server bytes through the WebSocket layer's receive path, as the stream
// below hands them up: frames, pings and their pongs, the close handshake,
// BufferMessage, SinglePacketMode with DataInText reads, and the message cap.
// Fed whole, a byte at a time and in odd pieces, the layer must raise the
// same events, never deliver more than the cap, and never deliver while it
// holds reception back.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "control/engine/engine_events.h"
#include "control/engine/test_stream.h"
#include "control/transport/proxy_settings.h"
#include "control/websocket/accept_key.h"
#include "control/websocket/http_layer.h"
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
    const morvane::ByteStream* stream = nullptr;
    std::int32_t cap = 0;

    void connectionStatus(const std::string& text, std::int16_t code, const std::string& reason) override {
        seen.push_back("S" + text + std::to_string(code) + reason);
    }
    void dataIn(std::int16_t format, std::span<const std::uint8_t> bytes, bool eom) override {
        // Only the empty last fragment of a message given in parts comes
        // without bytes: it carries the end of the message.
        if ((bytes.empty() && !eom) || bytes.size() > static_cast<std::size_t>(cap)) std::abort();
        if (!stream->acceptData()) std::abort();
        seen.push_back("D" + std::to_string(format) + (eom ? "E" : "") +
                       std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    void disconnected(std::int16_t code, const std::string& reason) override {
        seen.push_back("C" + std::to_string(code) + reason);
    }
    void error(std::int16_t code, const std::string& text) override {
        seen.push_back("E" + std::to_string(code) + text);
    }
};

// The layers on the in-memory stream, opened by an answered upgrade; what
// they send (pongs, close frames) is taken and dropped.
struct Stack {
    explicit Stack(const Options& options) {
        std::string ignored;
        context.config("BufferMessage=" + std::string(options.bufferMessage ? "True" : "False"), ignored);
        context.config("SinglePacketMode=" + std::string(options.singlePacketMode ? "True" : "False"), ignored);
        context.config("MaxMessageSize=" + std::to_string(options.maxMessageSize), ignored);
        context.config("SelectWaitMillis=0", ignored);
        stream.setResponder([](morvane::testing::TestStream& peer, const std::string& written) {
            const auto end = written.find("\r\n\r\n");
            const auto at = written.find("Sec-WebSocket-Key: ");
            if (end == std::string::npos || at == std::string::npos) return;
            const auto keyEnd = written.find("\r\n", at);
            const std::string key = written.substr(at + 19, keyEnd - at - 19);
            peer.takeWritten();
            peer.setResponder({});
            peer.peerSends(
                "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                "Sec-WebSocket-Accept: " +
                morvane::websocket::acceptValue(key) + "\r\n\r\n");
        });
        if (webSocket.connect("ws://peer.test/") != 0 || webSocket.state() != WebSocketLayer::State::Open) {
            std::abort();
        }
    }

    morvane::EngineContext context;
    morvane::ProxySettings proxy;
    morvane::testing::TestStream stream{context};
    morvane::HttpLayer http{context, stream, proxy};
    WebSocketLayer webSocket{context, http, [] { return true; }};
};

std::vector<std::string> run(std::span<const std::uint8_t> input, std::size_t piece, const Options& options) {
    Sink sink;
    Stack stack(options);
    sink.stream = &stack.stream;
    sink.cap = options.maxMessageSize;
    for (std::size_t offset = 0; offset < input.size(); offset += piece) {
        const std::span<const std::uint8_t> part = input.subspan(offset, std::min(piece, input.size() - offset));
        stack.stream.peerSends({reinterpret_cast<const char*>(part.data()), part.size()});
    }
    stack.context.setEventSink(&sink);
    while (stack.stream.isOpen() && !stack.stream.scriptDone()) {
        stack.stream.play(1 << 20);
        stack.stream.takeWritten();
        // What the stream holds back meanwhile is read now.
        while (stack.stream.isOpen() && !stack.stream.acceptData()) stack.webSocket.takeDataInText();
    }
    while (stack.stream.isOpen() && !stack.stream.acceptData()) stack.webSocket.takeDataInText();
    stack.context.setEventSink(nullptr);
    return std::move(sink.seen);
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
