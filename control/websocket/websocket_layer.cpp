#include "control/websocket/websocket_layer.h"

#include <algorithm>
#include <limits>

#include "control/engine/engine_errors.h"

namespace morvane {
namespace {

constexpr std::string_view wsScheme = "ws";
constexpr std::string_view wssScheme = "wss";

}  // namespace

WebSocketLayer::WebSocketLayer(EngineContext& context, HttpLayer& below, LingerSetting linger)
    : context_(context), http_(below), linger_(std::move(linger)) {
    http_.setSchemes(wsScheme, wssScheme);
    http_.setListener(this);
    context_.addSettingsTable(SettingsRank::WebSocket, *this);
}

WebSocketLayer::~WebSocketLayer() {
    context_.removeSettings(this);
    http_.setListener(nullptr);
}

std::span<const Setting<WebSocketLayer>> WebSocketLayer::settings() {
    using W = WebSocketLayer;
    using A = SettingAccess;
    static const Setting<W> table[] = {
        {.name = "MaxFrameSize", .integer = &W::maxFrameSize_},
        {.name = "MaxMessageSize", .integer = &W::maxMessageSize_},
        {.name = "DisconnectStatusCode",
         .integer = &W::disconnectStatusCode_,
         .write = [](W& w, std::string_view v) { return w.setDisconnectStatusCode(configInteger(v)); }},
        {.name = "DisconnectStatusDescription", .text = &W::disconnectStatusDescription_},
        {.name = "BufferMessage", .boolean = &W::bufferMessage_},
        {.name = "SinglePacketMode", .boolean = &W::singlePacketMode_},
        {.name = "StrictProtocol", .boolean = &W::strictProtocol_},
        {.name = "ClosedCleanly", .access = A::ReadOnly, .boolean = &W::closedCleanly_},
        {.name = "DataInText", .access = A::ReadOnly, .read = [](W& w) { return w.takeDataInText(); }},
        {.name = "DataInEOM", .access = A::ReadOnly, .boolean = &W::dataInEom_},
    };
    return table;
}

int WebSocketLayer::setDisconnectStatusCode(std::int64_t code) {
    // Below 0 stands for "no code given" (1000 goes out); a code wider than
    // the frame's two bytes would go out as some other code.
    if (code > std::numeric_limits<std::uint16_t>::max()) return context_.fail(errc::outOfRange, errtext::outOfRange);
    disconnectStatusCode_ =
        static_cast<std::int32_t>(std::max<std::int64_t>(code, std::numeric_limits<std::int32_t>::min()));
    return 0;
}

bool WebSocketLayer::connected() const {
    return http_.isConnected() && (state_ == State::Connecting || state_ == State::Open);
}

std::string WebSocketLayer::takeDataInText() {
    std::string payload = std::move(keptPayload_);
    keptPayload_.clear();
    http_.setAcceptData(true);
    // Frames that arrived behind the kept message are already here; they
    // need no new bytes to be delivered.
    if (state_ == State::Open || state_ == State::Closing) parseFrames();
    return payload;
}

}  // namespace morvane
