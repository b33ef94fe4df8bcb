// Test support: the whole engine (socket, HTTP and WebSocket layers) with
// the members the tests reach for gathered on one object, as the control's
// properties and methods see them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "control/engine/morvane_engine.h"

namespace morvane::testing {

class WholeEngine : public MorvaneEngine {
public:
    using State = WebSocketLayer::State;

    explicit WholeEngine(const EngineEnvironment& environment = {}) : MorvaneEngine(environment) {}

    std::string setting(std::string_view name) {
        std::string value;
        EXPECT_EQ(config(name, value), 0) << name << ": " << lastErrorText();
        return value;
    }
    void set(std::string_view text) {
        std::string ignored;
        EXPECT_EQ(config(text, ignored), 0) << text << ": " << lastErrorText();
    }

    // Methods.
    int connect(std::string_view url) { return webSocket().connect(url); }
    int setConnected(bool on) { return webSocket().setConnected(on); }
    int disconnect() { return webSocket().disconnect(); }
    int send(std::span<const std::uint8_t> data) { return webSocket().send(data); }
    int sendText(std::string_view utf8) { return webSocket().sendText(utf8); }
    int sendFile(std::string_view name) { return webSocket().sendFile(name); }
    int doEvents() { return webSocket().doEvents(); }
    int interrupt() { return webSocket().interrupt(); }

    // State.
    State state() const { return webSocket().state(); }
    bool connected() const { return webSocket().connected(); }
    bool socketOpen() const { return socket().socketOpen(); }
    std::int32_t bytesSent() const { return webSocket().bytesSent(); }
    std::size_t pendingOutputSize() const { return webSocket().pendingOutputSize(); }
    void setDataFormat(int format) { webSocket().setDataFormat(format); }
    bool acceptData() const { return http().acceptData(); }
    std::int32_t maxMessageSize() const { return webSocket().maxMessageSize(); }
    void setTimeout(int timeout) { waiter().setTimeout(timeout); }
    int instanceNumber() const { return context().instanceNumber(); }

    // The HTTP layer's records.
    const std::string& url() const { return http().url(); }
    int remotePort() const { return http().port(); }
    int statusCode() const { return http().statusCode(); }
    const std::string& statusLine() const { return http().statusLine(); }
    const std::vector<ParsedHeader>& parsedHeaders() const { return http().parsedHeaders(); }
    const std::vector<CookieRecord>& cookies() const { return http().cookies(); }
    void addCookie(std::string_view name, std::string_view value) { http().addCookie(name, value); }
    const std::string& subProtocols() const { return http().subProtocols(); }
    const std::string& otherHeaders() const { return http().otherHeaders(); }
    void setOtherHeaders(std::string_view headers) { http().setOtherHeaders(headers); }
    void setOrigin(std::string_view origin) { http().setOrigin(origin); }
    void setAuthScheme(int scheme) { http().setAuthScheme(scheme); }
    int followRedirects() const { return http().followRedirects(); }
    HttpLayer::Action action() const { return http().action(); }
};

}  // namespace morvane::testing
