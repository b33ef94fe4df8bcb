#include "control/websocket/close.h"

#include <array>
#include <utility>

#include "control/websocket/utf8.h"

namespace morvane::websocket {
namespace {

constexpr std::size_t kMaxControlPayload = 125;

struct CodeName {
    int code;
    std::string_view name;
};
constexpr std::array<CodeName, 12> kCodeNames{{
    {1000, "Normal Closure"},
    {1001, "Going Away"},
    {1002, "Protocol Error"},
    {1003, "Unsupported Data"},
    {1005, "No Status Received"},
    {1006, "Abnormal Closure"},
    {1007, "Invalid Frame Payload Data"},
    {1008, "Policy Violation"},
    {1009, "Message Too Big"},
    {1010, "Mandatory Extension Missing"},
    {1011, "Internal Server Error"},
    {1015, "TLS Handshake Error"},
}};

}  // namespace

std::string_view closeCodeName(int code) {
    for (const auto& entry : kCodeNames) {
        if (entry.code == code) return entry.name;
    }
    return {};
}

std::vector<std::uint8_t> buildClosePayload(std::uint16_t code, std::string_view reason) {
    if (reason.size() > kMaxControlPayload - 2) {
        reason = reason.substr(0, utf8PrefixLength(reason, kMaxControlPayload - 2));
    }
    std::vector<std::uint8_t> payload;
    payload.reserve(2 + reason.size());
    payload.push_back(static_cast<std::uint8_t>(code >> 8));
    payload.push_back(static_cast<std::uint8_t>(code));
    payload.insert(payload.end(), reason.begin(), reason.end());
    return payload;
}

CloseRecord parseClosePayload(std::span<const std::uint8_t> payload) {
    CloseRecord record;
    if (payload.empty()) return record;
    if (payload.size() < 2) {
        record.code = 1005;
        record.reason = std::string(closeCodeName(1005));
        return record;
    }
    record.code = (payload[0] << 8) | payload[1];
    record.reason.clear();
    for (std::size_t i = 2; i < payload.size() && payload[i] != 0; ++i) {
        record.reason.push_back(static_cast<char>(payload[i]));
    }
    if (record.reason.empty()) record.reason = std::string(closeCodeName(record.code));
    return record;
}

bool isSendableCloseCode(int code) {
    return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1014) || (code >= 3000 && code <= 4999);
}

std::optional<ProtocolViolation> closePayloadViolation(std::span<const std::uint8_t> payload) {
    if (payload.empty()) return std::nullopt;
    if (payload.size() == 1) return violation::oneByteClose;
    if (!isSendableCloseCode((payload[0] << 8) | payload[1])) return violation::forbiddenCloseCode;
    if (!isValidUtf8(payload.subspan(2))) return violation::invalidCloseReason;
    return std::nullopt;
}

CloseRecord closeRecordToSend(long long requestedCode, std::string_view requestedReason) {
    CloseRecord record;
    record.code = requestedCode < 0 || requestedCode > 0xFFFF ? 1000 : static_cast<int>(requestedCode);
    record.reason = requestedReason.empty() ? std::string(closeCodeName(record.code)) : std::string(requestedReason);
    return record;
}

void CloseHandshake::reset() {
    state_ = ConnectionState::kClosed;
    own_ = CloseRecord{};
}

CloseAction CloseHandshake::startClose(long long requestedCode, std::string_view requestedReason) {
    CloseAction action;
    if (state_ != ConnectionState::kOpen) return action;
    state_ = ConnectionState::kClosing;
    own_ = closeRecordToSend(requestedCode, requestedReason);
    action.sendClose = true;
    action.send = own_;
    return action;
}

CloseAction CloseHandshake::failUpgrade() {
    CloseAction action;
    state_ = ConnectionState::kClosing;
    action.sendClose = true;
    action.send = CloseRecord{1002, std::string(closeCodeName(1002))};
    return action;
}

CloseAction CloseHandshake::closeReceived(std::span<const std::uint8_t> payload) {
    CloseAction action;
    switch (state_) {
        case ConnectionState::kClosing:
            // The reply to our own close.
            action.raiseCloseEvents = true;
            action.report = own_;
            action.closeSocket = true;
            state_ = ConnectionState::kClosed;
            break;
        case ConnectionState::kOpen:
            // The server closes first: answer 1000 and report the server's reason.
            state_ = ConnectionState::kClosing;
            action.sendClose = true;
            action.send = CloseRecord{};
            action.raiseCloseEvents = true;
            action.report = parseClosePayload(payload);
            action.closeSocket = true;
            state_ = ConnectionState::kClosed;
            break;
        case ConnectionState::kConnecting:
        case ConnectionState::kClosed: break;
    }
    return action;
}

CloseAction CloseHandshake::socketClosed() {
    CloseAction action;
    switch (state_) {
        case ConnectionState::kClosing:
            action.raiseCloseEvents = true;
            action.report = own_;
            break;
        case ConnectionState::kConnecting:
        case ConnectionState::kOpen:
            action.raiseCloseEvents = true;
            action.report = CloseRecord{1001, std::string(closeCodeName(1001))};
            break;
        case ConnectionState::kClosed: return action;
    }
    state_ = ConnectionState::kClosed;
    return action;
}

}  // namespace morvane::websocket
