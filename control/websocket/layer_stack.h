// Test support: the HTTP and WebSocket layers stacked on the in-memory test
// stream instead of a socket, with a peer that can answer the upgrade.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "control/engine/engine_context.h"
#include "control/engine/test_stream.h"
#include "control/transport/proxy_settings.h"
#include "control/websocket/accept_key.h"
#include "control/websocket/http_layer.h"
#include "control/websocket/recording_events.h"
#include "control/websocket/websocket_layer.h"

namespace morvane::testing {

// The value of one header line of a request head, or empty.
inline std::string requestHeader(std::string_view request, std::string_view name) {
    const std::string key = "\r\n" + std::string(name) + ": ";
    const auto at = request.find(key);
    if (at == std::string_view::npos) return {};
    const auto end = request.find("\r\n", at + key.size());
    return std::string(request.substr(at + key.size(), end - at - key.size()));
}

inline std::string upgradeAnswer(std::string_view request, std::string_view extraHeaders = {}) {
    return "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Accept: " +
           websocket::acceptValue(requestHeader(request, "Sec-WebSocket-Key")) + "\r\n" + std::string(extraHeaders) +
           "\r\n";
}

class LayerStack {
public:
    EngineContext context;
    ProxySettings proxy;
    TestStream stream{context};
    HttpLayer http{context, stream, proxy};
    bool linger = true;
    WebSocketLayer webSocket{context, http, [this] { return linger; }};
    RecordingEvents events;

    LayerStack() {
        context.setEventSink(&events);
        context.waiter().setTimeout(5);
    }
    ~LayerStack() { context.setEventSink(nullptr); }

    // The peer answers the next upgrade request with 101 and the right
    // accept value, followed by `after` (frames that come with the answer).
    void answerUpgrade(std::string after = {}, std::string extraHeaders = {}) {
        stream.setResponder([after = std::move(after), extraHeaders = std::move(extraHeaders)](
                                TestStream& peer, const std::string& written) {
            if (written.find("\r\n\r\n") == std::string::npos) return;
            peer.peerSends(upgradeAnswer(peer.takeWritten(), extraHeaders) + after);
            peer.setResponder({});
        });
    }

    // Connects with the upgrade answered; the stream's record of what was
    // written starts after the request.
    void open(std::string after = {}) {
        answerUpgrade(std::move(after));
        ASSERT_EQ(webSocket.connect("ws://peer.test/"), 0) << context.lastErrorText();
        ASSERT_EQ(webSocket.state(), WebSocketLayer::State::Open);
    }

    std::string setting(std::string_view name) {
        std::string value;
        EXPECT_EQ(context.config(name, value), 0) << name << ": " << context.lastErrorText();
        return value;
    }
    int set(std::string_view text) {
        std::string ignored;
        return context.config(text, ignored);
    }
};

}  // namespace morvane::testing
