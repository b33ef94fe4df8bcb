// The WebSocket client control `WSClient1` as the relay link uses it: the
// members it calls and the events it handles. Texts are 8-bit in the ANSI
// code page, as everywhere in the bridge; the control's own binding
// (morvane_client.h) converts them at the component boundary. Tests put a
// scripted control in its place.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace taltrix::links {

// A member call that failed, as the control raised it.
struct ControlError {
    long number = 0;  // the automation error number (HRESULT)
    std::string description;
};

// The certificate a server presented, as the SSLServerAuthentication event
// reports it.
struct ServerCertificate {
    std::string encoded;
    std::string subject;
    std::string issuer;
    std::string status;  // the problems found, empty when none
};

class WebSocketControl {
public:
    virtual ~WebSocketControl() = default;

    // Returns once the connection is open or has failed; events may run
    // meanwhile, and may call back into the control.
    virtual bool Connect(std::string_view url, ControlError& error) = 0;
    // False also when the property cannot be read.
    virtual bool Connected() = 0;
    virtual bool setConnected(bool connected, ControlError& error) = 0;
    // Sends the text as one message.
    virtual bool setDataToSend(std::string_view text, ControlError& error) = 0;
    // Ends a blocking member call in progress.
    virtual void Interrupt() = 0;

    std::function<void(int statusCode, std::string_view description)> onConnected;
    std::function<void(int dataFormat, std::string_view text, bool eom)> onDataIn;
    std::function<void(int statusCode, std::string_view description)> onDisconnected;
    std::function<void(int errorCode, std::string_view description)> onError;
    // `accept` enters as the control's own verdict; what the handler leaves
    // in it decides.
    std::function<void(const ServerCertificate& certificate, bool& accept)> onSSLServerAuthentication;
};

}  // namespace taltrix::links
