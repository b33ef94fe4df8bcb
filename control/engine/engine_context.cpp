#include "control/engine/engine_context.h"

#include <algorithm>
#include <atomic>
#include <ctime>

#include "control/engine/engine_errors.h"
#include "control/engine/engine_events.h"
#include "control/engine/socket_errors.h"
#include "control/engine/traffic_log.h"

namespace morvane {
namespace {

// Japanese systems get the double-byte character handling by default.
constexpr int shiftJisCodePage = 932;

constexpr std::string_view successDescription = "OK";

// Debug-log lines carry the number of the engine that wrote them; numbers
// are handed out in creation order and never reused within a process.
std::atomic<int> nextInstanceNumber{1};

std::tm localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return local;
}

}  // namespace

EngineContext::EngineContext(const EngineEnvironment& environment)
    : environment_(environment),
      charsetMode_(environment.ansiCodePage == shiftJisCodePage ? 1 : 0),
      instanceNumber_(nextInstanceNumber.fetch_add(1)),
      waiter_(*this) {
    addSettingsTable(SettingsRank::Waiting, waiter_);
    addSettingsTable(SettingsRank::Common, *this);
}

std::span<const Setting<EngineContext>> EngineContext::settings() {
    using E = EngineContext;
    static const Setting<E> table[] = {
        {.name = "CodePage",
         .integer = &E::codePage_,
         .write =
             [](E& e, std::string_view v) {
                 e.setCodePage(configInteger32(v));
                 return 0;
             }},
        {.name = "CharsetMode", .integer = &E::charsetMode_},
        {.name = "LogDebugFile", .text = &E::logDebugFile_},
        {.name = "LogDebugOption", .integer = &E::logDebugOption_},
        {.name = "LastError", .access = SettingAccess::ReadOnly, .text = &E::lastErrorText_},
        {.name = "ZeroMemory",
         .read = [](E&) { return std::string(configBooleanText(zeroMemory_)); },
         .write =
             [](E&, std::string_view v) {
                 zeroMemory_ = configBoolean(v);
                 return 0;
             }},
    };
    return table;
}

void EngineContext::addSettings(SettingsRank rank, const void* owner, SettingsHandler handler) {
    const auto at = std::upper_bound(settingsTables_.begin(), settingsTables_.end(), rank,
                                     [](SettingsRank r, const SettingsEntry& entry) { return r < entry.rank; });
    settingsTables_.insert(at, SettingsEntry{rank, owner, std::move(handler)});
}

void EngineContext::removeSettings(const void* owner) {
    std::erase_if(settingsTables_, [owner](const SettingsEntry& entry) { return entry.owner == owner; });
}

int EngineContext::config(std::string_view configurationString, std::string& result) {
    result.clear();
    const ConfigText request = splitConfigText(configurationString);
    // A handler may run code that changes the tables (a DataInText read
    // delivers a message); the walk goes by index.
    for (std::size_t i = 0; i < settingsTables_.size(); ++i) {
        const SettingsHandler handler = settingsTables_[i].handler;
        if (const std::optional<int> code = handler(request, result)) {
            if (*code != 0) result.clear();
            return *code;
        }
    }
    return fail(errc::unknownConfigSetting, errtext::unknownConfigSetting);
}

void EngineContext::clearLastError() {
    lastErrorCode_ = 0;
    lastErrorText_.clear();
}

int EngineContext::fail(int code, std::string_view description) {
    lastErrorCode_ = code;
    lastErrorText_ = description;
    return code;
}

int EngineContext::failSocket(int code) { return fail(code, socketErrorDescription(code)); }

void EngineContext::describeError(int code) {
    if (!lastErrorText_.empty()) return;
    if (code == errc::interrupted)
        lastErrorText_ = errtext::interrupted;
    else if (code == errc::outOfMemory)
        lastErrorText_ = errtext::outOfMemory;
    else if (isSocketErrorCode(code))
        lastErrorText_ = socketErrorDescription(code);
}

void EngineContext::setEventSink(EngineEvents* sink) {
    events_ = sink;
    if (events_) events_->useCodePage(effectiveCodePage());
}

void EngineContext::raiseError(int code, std::string_view description) {
    if (events_) events_->error(static_cast<std::int16_t>(code), std::string(description));
}

void EngineContext::raiseConnectionStatus(std::string_view text, int code) {
    if (!events_) return;
    events_->connectionStatus(std::string(text), static_cast<std::int16_t>(code),
                              code == 0 ? std::string(successDescription) : socketErrorDescription(code));
}

void EngineContext::setCodePage(int codePage) {
    codePage_ = codePage;
    if (events_) events_->useCodePage(effectiveCodePage());
}

void EngineContext::logDebugText(std::string_view text) {
    if (logDebugFile_.empty()) return;
    appendToFile(logDebugFile_, formatDebugLogLine(instanceNumber_, localNow(), text));
}

void EngineContext::logDebugTraffic(TrafficDirection direction, std::span<const std::uint8_t> data) {
    if (logDebugFile_.empty() || (logDebugOption_ & logDebugNoTraffic)) return;
    appendToFile(logDebugFile_, formatDebugLogBlock(instanceNumber_, localNow(), direction, data, logDebugOption_));
}

}  // namespace morvane
