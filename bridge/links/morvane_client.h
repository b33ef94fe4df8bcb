// WSClient1: the Morvane WebSocket control, created through the component
// runtime by its ProgID and driven by dispatch identifier, as any host
// without the control's headers would drive it. Its events arrive through a
// sink connected to the control's event interface.
//
// The control is found through the component registry (see
// control_registration.h for how an installed Taltrix makes sure it is
// there). Text crosses as BSTRs, converted from and to the ANSI code page.
#pragma once

#include <memory>
#include <string>

#include "bridge/links/websocket_control.h"

namespace taltrix::links {

inline constexpr const char* morvaneProgId = "QuillonWS.Morvane";

class MorvaneClient final : public WebSocketControl {
public:
    // The control, or null with the reason in `problem` (a sentence the
    // user can act on).
    static std::unique_ptr<MorvaneClient> create(std::string& problem);
    ~MorvaneClient() override;
    MorvaneClient(const MorvaneClient&) = delete;
    MorvaneClient& operator=(const MorvaneClient&) = delete;

    bool Connect(std::string_view url, ControlError& error) override;
    bool Connected() override;
    bool setConnected(bool connected, ControlError& error) override;
    bool setDataToSend(std::string_view text, ControlError& error) override;
    void Interrupt() override;

private:
    struct Binding;
    explicit MorvaneClient(std::unique_ptr<Binding> binding);

    std::unique_ptr<Binding> binding_;
};

}  // namespace taltrix::links
