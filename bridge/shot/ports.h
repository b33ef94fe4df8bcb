// The shot pipeline's view of the world around it.
//
// The pipeline itself does no I/O and knows nothing of windows or links; it
// talks to the window and the links only through these small interfaces. The
// window (bridge/app) and the links (bridge/links) implement them; tests and
// the --convert front end supply their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "bridge/shot/shot_observer.h"
#include "bridge/shot/shot_record.h"

namespace taltrix {

// The raw-data box `meAns`: everything the launch monitor sent, plus the club
// commands written back, for the user who wants to look at the wire.
class RawDataBox {
public:
    virtual ~RawDataBox() = default;
    virtual bool isVisible() const = 0;
    virtual void append(std::string_view text) = 0;
    virtual void prepend(std::string_view text) = 0;
};

// A status light that blinks once when switched on (`Timer_RX`, `Timer_TX`).
class Indicator {
public:
    virtual ~Indicator() = default;
    virtual void switchOn() = 0;
};

// The status display every part of the bridge reports through:
// `fn_show_status` and the latest status message the label picks up.
class StatusDisplay {
public:
    virtual ~StatusDisplay() = default;
    virtual void showStatus(std::string_view message) = 0;
    virtual void setLatestStatus(std::string_view message) = 0;
};

// One simulator's link as the router sees it.
class SimulatorOutlet {
public:
    virtual ~SimulatorOutlet() = default;
    virtual bool isUp() const = 0;
    // Whether the simulator takes shots now (TGC once it has said so):
    // routing gives a link that is up but not ready no shot.
    virtual bool isReady() const { return true; }
    virtual void send(std::string_view message) = 0;
    // Whether the last send put the message on the wire; a link that cannot
    // tell says nothing.
    virtual std::optional<bool> lastSendDelivered() const { return std::nullopt; }
    // A shot routing let go without handing it over, and why.
    virtual void notSent(std::string_view /*message*/, ShotOutcome /*why*/) {}
};

// A simulator whose link builds the message itself, because the message
// carries the link's own state (Open Connect numbers its shots).
class ShotOutlet {
public:
    virtual ~ShotOutlet() = default;
    virtual bool isUp() const = 0;
    // `precise` holds the angles as the device wrote them, beside the record.
    virtual void sendShot(const ShotRecord& shot, const PreciseShot& precise) = 0;
    // The message the last sendShot built, its number and whether it went
    // out; a link that cannot tell says nothing.
    virtual std::string_view lastMessage() const { return {}; }
    virtual std::optional<std::int32_t> lastShotNumber() const { return std::nullopt; }
    virtual std::optional<bool> lastSendDelivered() const { return std::nullopt; }
    // A shot routing let go without handing it over, and why.
    virtual void notSent(const ShotRecord& /*shot*/, ShotOutcome /*why*/) {}
};

// What the launch-monitor link reports for one command write.
struct CommandWriteResult {
    int code = 0;              // 0: written; otherwise the link's error code
    std::string runtimeError;  // non-empty: the link could not be used at all
};

// The launch-monitor link's command write: appends one CR, converts to the
// ANSI code page and writes the bytes to the device.
class CommandWriter {
public:
    virtual ~CommandWriter() = default;
    virtual CommandWriteResult writeCommand(std::string_view command) = 0;
};

}  // namespace taltrix
