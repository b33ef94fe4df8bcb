#include "control/websocket/websocket_layer.h"

namespace morvane {
namespace {

constexpr std::string_view wsScheme = "ws";
constexpr std::string_view wssScheme = "wss";
constexpr int normalClosure = 1000;
constexpr std::string_view normalClosureName = "Normal Closure";

}  // namespace

WebSocketLayer::WebSocketLayer(const EngineEnvironment& environment)
    : HttpLayer(environment), closeCode_(normalClosure), closeReason_(normalClosureName) {
    setSchemes(wsScheme, wssScheme);
}

std::span<const Setting<WebSocketLayer>> WebSocketLayer::settings() {
    using W = WebSocketLayer;
    using A = SettingAccess;
    static const Setting<W> table[] = {
        {.name = "MaxFrameSize", .integer = &W::maxFrameSize_},
        {.name = "MaxMessageSize", .integer = &W::maxMessageSize_},
        {.name = "DisconnectStatusCode", .integer = &W::disconnectStatusCode_},
        {.name = "DisconnectStatusDescription", .text = &W::disconnectStatusDescription_},
        {.name = "BufferMessage", .boolean = &W::bufferMessage_},
        {.name = "SinglePacketMode", .boolean = &W::singlePacketMode_},
        {.name = "DataInText", .access = A::ReadOnly, .read = [](W& w) { return w.takeDataInText(); }},
        {.name = "DataInEOM", .access = A::ReadOnly, .boolean = &W::dataInEom_},
        {.name = "URL", .access = A::ReadOnly, .text = &W::url_},
        {.name = "StatusLine", .access = A::ReadOnlyIgnoringWrites, .text = &W::statusLine_},
        {.name = "TransferredData", .access = A::ReadOnlyIgnoringWrites, .text = &W::transferredData_},
    };
    return table;
}

std::optional<int> WebSocketLayer::configure(const ConfigText& request, std::string& result) {
    if (auto code = applySetting(settings(), *this, request, result)) return code;
    return HttpLayer::configure(request, result);
}

bool WebSocketLayer::connected() const {
    return socketConnected() && (state_ == State::Connecting || state_ == State::Open);
}

std::string WebSocketLayer::takeDataInText() {
    std::string payload = std::move(keptPayload_);
    keptPayload_.clear();
    setAcceptData(true);
    // Frames that arrived behind the kept message are already here; they
    // need no new bytes to be delivered.
    if (state_ == State::Open || state_ == State::Closing) parseFrames();
    return payload;
}

}  // namespace morvane
