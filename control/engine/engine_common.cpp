#include "control/engine/engine_common.h"

#include "control/com/engine_events.h"
#include "control/engine/engine_errors.h"

namespace morvane {
namespace {

// Japanese systems get the double-byte character handling by default.
constexpr int shiftJisCodePage = 932;

}  // namespace

EngineCommon::EngineCommon(const EngineEnvironment& environment)
    : environment_(environment), charsetMode_(environment.ansiCodePage == shiftJisCodePage ? 1 : 0) {}

std::span<const Setting<EngineCommon>> EngineCommon::settings() {
    using E = EngineCommon;
    static const Setting<E> table[] = {
        {.name = "CodePage",
         .integer = &E::codePage_,
         .write = [](E& e, std::string_view v) {
             e.setCodePage(configInteger32(v));
             return 0;
         }},
        {.name = "CharsetMode", .integer = &E::charsetMode_},
        {.name = "LogDebugFile", .text = &E::logDebugFile_},
        {.name = "LogDebugOption", .integer = &E::logDebugOption_},
        {.name = "LastError", .access = SettingAccess::ReadOnly, .text = &E::lastErrorText_},
        {.name = "ZeroMemory",
         .read = [](E&) { return std::string(configBooleanText(zeroMemory_)); },
         .write = [](E&, std::string_view v) {
             zeroMemory_ = configBoolean(v);
             return 0;
         }},
    };
    return table;
}

int EngineCommon::config(std::string_view configurationString, std::string& result) {
    result.clear();
    const ConfigText request = splitConfigText(configurationString);
    const std::optional<int> code = configure(request, result);
    if (!code) return fail(errc::unknownConfigSetting, errtext::unknownConfigSetting);
    if (*code != 0) result.clear();
    return *code;
}

std::optional<int> EngineCommon::configure(const ConfigText& request, std::string& result) {
    return applySetting(settings(), *this, request, result);
}

void EngineCommon::clearLastError() {
    lastErrorCode_ = 0;
    lastErrorText_.clear();
}

int EngineCommon::fail(int code, std::string_view description) {
    lastErrorCode_ = code;
    lastErrorText_ = description;
    return code;
}

void EngineCommon::setEventSink(EngineEvents* sink) {
    events_ = sink;
    if (events_) events_->useCodePage(effectiveCodePage());
}

void EngineCommon::setCodePage(int codePage) {
    codePage_ = codePage;
    if (events_) events_->useCodePage(effectiveCodePage());
}

}  // namespace morvane
