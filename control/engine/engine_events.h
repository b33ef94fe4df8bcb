// The engine's events, as the control surface receives them.
//
// The engine owns no COM: it reports through this interface, and the control
// implements it by firing the matching event of _IMorvaneEvents. After the
// first operation, which hands over the code page for text conversion, the
// operations follow the event DISPIDs 1 to 11. Texts are 8-bit in that code
// page. Every parameter lives only for the duration of the call; the two
// `accept` answers are the only values the engine reads back.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace morvane {

class EngineEvents {
public:
    virtual ~EngineEvents() = default;

    virtual void useCodePage(int codePage) = 0;

    // A run of events is about to come (a receive pass that may deliver
    // thousands of messages), and is over: what every event of the run needs
    // can be set up once. Runs may nest. Listeners that need nothing of the
    // kind leave these alone.
    virtual void beginEvents() {}
    virtual void endEvents() {}

    // 1: the opening handshake succeeded, (0, "OK").
    virtual void connected(std::int16_t statusCode, const std::string& description) = 0;
    // 2
    virtual void connectionStatus(const std::string& connectionEvent, std::int16_t statusCode,
                                  const std::string& description) = 0;
    // 3: `dataFormat` is the message's opcode; the payload keeps embedded zero bytes.
    virtual void dataIn(std::int16_t dataFormat, std::span<const std::uint8_t> text, bool eom) = 0;
    // A long payload is on its way; the next dataIn carries it. `soFar` is
    // what has come of it, from its first byte (it stays as it is, though it
    // may move, until that dataIn), and `total` how long it will be; `first`
    // starts a payload. The last call, right before the dataIn, has it whole.
    // A payload whose dataIn never comes (the connection ended) is simply
    // followed by another that is first. Lets a listener do its work on the
    // payload as it arrives instead of all at once when it ends.
    virtual void dataArriving(std::span<const std::uint8_t> soFar, std::uint64_t total, bool first) {
        (void)soFar, (void)total, (void)first;
    }
    // 4: the close code and reason.
    virtual void disconnected(std::int16_t statusCode, const std::string& description) = 0;
    // 5: a failure that no member call was there to return.
    virtual void error(std::int16_t errorCode, const std::string& description) = 0;
    // 6: once per header line of the handshake response.
    virtual void header(const std::string& field, const std::string& value) = 0;
    // 7
    virtual void readyToSend() = 0;
    // 8: `accept` enters as the redirect policy's verdict; what the handler leaves decides.
    virtual void redirect(const std::string& location, bool& accept) = 0;
    // 9: once per Set-Cookie header of the response.
    virtual void setCookie(const std::string& name, const std::string& value, const std::string& expires,
                           const std::string& domain, const std::string& path, bool secure) = 0;
    // 10: the server's certificate; `accept` is read back.
    virtual void sslServerAuthentication(std::span<const std::uint8_t> certEncoded, const std::string& certSubject,
                                         const std::string& certIssuer, const std::string& status, bool& accept) = 0;
    // 11: progress text of the secure channel.
    virtual void sslStatus(const std::string& message) = 0;
};

// Takes every event and does nothing with it: a listener that cares about a
// few of them overrides just those.
class IgnoringEvents : public EngineEvents {
public:
    void useCodePage(int) override {}
    void connected(std::int16_t, const std::string&) override {}
    void connectionStatus(const std::string&, std::int16_t, const std::string&) override {}
    void dataIn(std::int16_t, std::span<const std::uint8_t>, bool) override {}
    void disconnected(std::int16_t, const std::string&) override {}
    void error(std::int16_t, const std::string&) override {}
    void header(const std::string&, const std::string&) override {}
    void readyToSend() override {}
    void redirect(const std::string&, bool&) override {}
    void setCookie(const std::string&, const std::string&, const std::string&, const std::string&, const std::string&,
                   bool) override {}
    void sslServerAuthentication(std::span<const std::uint8_t>, const std::string&, const std::string&,
                                 const std::string&, bool&) override {}
    void sslStatus(const std::string&) override {}
};

}  // namespace morvane
