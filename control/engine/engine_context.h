// What every part of one control's engine shares: the facts of the system,
// the event sink, the last-error record behind the engine's convention (every
// operation returns 0 or an error code and leaves a description), the common
// settings, the debug log, the waiting that blocking operations do, and the
// routing of Config to the settings tables of the parts.
//
// The parts themselves are layers stacked by ownership (socket, and later
// tunnel and TLS, then the HTTP upgrade and WebSocket), each seeing only the
// one below it through ByteStream. The context is not a layer: each of them
// borrows it, as the control's one place for errors, events and settings.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "control/engine/config_text.h"
#include "control/engine/setting.h"
#include "control/engine/traffic_log.h"
#include "control/engine/waiter.h"

namespace morvane {

class EngineEvents;

// Facts about the system that some defaults depend on. The control fills it
// from the platform; tests name the system they want.
struct EngineEnvironment {
    int ansiCodePage = 1252;
    int systemMajorVersion = 10;
    int systemMinorVersion = 0;
};

// Where a settings table stands when Config asks the tables from the top of
// the stack down. The first table that knows a name answers.
enum class SettingsRank : int {
    WebSocket,
    Http,
    Socket,
    Waiting,
    Proxy,
    SecureChannel,
    Authentication,
    Common,
};

class EngineContext {
public:
    explicit EngineContext(const EngineEnvironment& environment = {});
    EngineContext(const EngineContext&) = delete;
    EngineContext& operator=(const EngineContext&) = delete;

    // The Config operation: reads ("Name") or writes ("Name=Value") one
    // setting. A read leaves the value in `result`, a write leaves it empty,
    // and so does a failure.
    int config(std::string_view configurationString, std::string& result);

    // A part's settings table joins the Config routing for the part's
    // lifetime. `owner` identifies it for removal.
    using SettingsHandler = std::function<std::optional<int>(const ConfigText&, std::string&)>;
    void addSettings(SettingsRank rank, const void* owner, SettingsHandler handler);
    void removeSettings(const void* owner);

    template <class Part>
    void addSettingsTable(SettingsRank rank, Part& part) {
        addSettings(rank, &part, [&part](const ConfigText& request, std::string& result) {
            return applySetting(Part::settings(), part, request, result);
        });
    }

    // The last-error record.
    int lastErrorCode() const { return lastErrorCode_; }
    const std::string& lastErrorText() const { return lastErrorText_; }
    void clearLastError();
    // Records a failure and returns its code, for `return fail(...)`.
    int fail(int code, std::string_view description);
    // fail() with the socket error's own text.
    int failSocket(int code);
    // Fills an empty last-error text from the code alone, as a failure that
    // surfaces without a description needs it: the wait-step and memory
    // texts, or the socket error's own text.
    void describeError(int code);

    void setEventSink(EngineEvents* sink);
    EngineEvents* events() const { return events_; }
    // Error event, when a sink listens.
    void raiseError(int code, std::string_view description);
    // ConnectionStatus with the socket error's description of `code` ("OK"
    // for 0), as the transport reports its steps.
    void raiseConnectionStatus(std::string_view text, int code);

    // 0 stands for the system's ANSI code page.
    int codePage() const { return codePage_; }
    void setCodePage(int codePage);
    int effectiveCodePage() const { return codePage_ == 0 ? environment_.ansiCodePage : codePage_; }

    const EngineEnvironment& environment() const { return environment_; }

    // The debug log (LogDebugFile): information lines and traffic blocks,
    // each marked with this engine's number.
    const std::string& logDebugFile() const { return logDebugFile_; }
    std::int32_t logDebugOption() const { return logDebugOption_; }
    int instanceNumber() const { return instanceNumber_; }
    void logDebugText(std::string_view text);
    // A block of traffic as it crossed the wire (or, on a secure
    // connection, as the channel sealed or opened it).
    void logDebugTraffic(TrafficDirection direction, std::span<const std::uint8_t> data);

    Waiter& waiter() { return waiter_; }
    const Waiter& waiter() const { return waiter_; }

    // Process-wide switch, shared by every instance.
    static bool zeroMemory() { return zeroMemory_; }
    static void setZeroMemory(bool on) { zeroMemory_ = on; }

    static std::span<const Setting<EngineContext>> settings();

private:
    struct SettingsEntry {
        SettingsRank rank;
        const void* owner;
        SettingsHandler handler;
    };

    EngineEnvironment environment_;
    EngineEvents* events_ = nullptr;
    int lastErrorCode_ = 0;
    std::string lastErrorText_;

    std::int32_t codePage_ = 0;
    std::int32_t charsetMode_;
    std::string logDebugFile_;
    std::int32_t logDebugOption_ = 0;
    int instanceNumber_;

    Waiter waiter_;
    // Sorted by rank; the common settings are always the last entry.
    std::vector<SettingsEntry> settingsTables_;

    static inline bool zeroMemory_ = false;
};

}  // namespace morvane
