// The bottom of the control's engine: what every layer shares.
//
// The engine is one object per control, built in layers that each extend the
// one below (SocketEngine, HttpLayer, WebSocketLayer). This base holds the
// settings common to all of them, the event sink, and the last-error record
// behind the engine's convention: every operation returns 0 or an error code
// and leaves a description for the caller to read.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "control/engine/config_text.h"
#include "control/engine/setting.h"

namespace morvane {

class EngineEvents;

// Facts about the system that some defaults depend on. The control fills it
// from the platform; tests name the system they want.
struct EngineEnvironment {
    int ansiCodePage = 1252;
    int systemMajorVersion = 10;
    int systemMinorVersion = 0;
};

class EngineCommon {
public:
    explicit EngineCommon(const EngineEnvironment& environment = {});
    virtual ~EngineCommon() = default;
    EngineCommon(const EngineCommon&) = delete;
    EngineCommon& operator=(const EngineCommon&) = delete;

    // The Config operation: reads ("Name") or writes ("Name=Value") one setting,
    // asking the layers from the top down. A read leaves the value in `result`,
    // a write leaves it empty, and so does a failure.
    int config(std::string_view configurationString, std::string& result);

    int lastErrorCode() const { return lastErrorCode_; }
    const std::string& lastErrorText() const { return lastErrorText_; }
    void clearLastError();

    void setEventSink(EngineEvents* sink);
    EngineEvents* eventSink() const { return events_; }

    // 0 stands for the system's ANSI code page.
    int codePage() const { return codePage_; }
    void setCodePage(int codePage);
    int effectiveCodePage() const { return codePage_ == 0 ? environment_.ansiCodePage : codePage_; }

    const EngineEnvironment& environment() const { return environment_; }

    // Process-wide switch, shared by every instance.
    static bool zeroMemory() { return zeroMemory_; }
    static void setZeroMemory(bool on) { zeroMemory_ = on; }

    static std::span<const Setting<EngineCommon>> settings();

protected:
    // Answers the request when this layer knows the name, else hands it to the
    // layer below. No value means that no layer knew it.
    virtual std::optional<int> configure(const ConfigText& request, std::string& result);

    // Records a failure and returns its code, for `return fail(...)`.
    int fail(int code, std::string_view description);

    EngineEnvironment environment_;
    EngineEvents* events_ = nullptr;
    int lastErrorCode_ = 0;
    std::string lastErrorText_;

    std::int32_t codePage_ = 0;
    std::int32_t charsetMode_;
    std::string logDebugFile_;
    std::int32_t logDebugOption_ = 0;

private:
    static inline bool zeroMemory_ = false;
};

}  // namespace morvane
