// Recording stand-ins for the window and the links, for tests of the shot
// pipeline.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/shot/ports.h"

namespace taltrix::testing {

class RecordingRawBox final : public RawDataBox {
public:
    bool visible = true;
    std::string text;
    bool isVisible() const override { return visible; }
    void append(std::string_view more) override { text.append(more); }
    void prepend(std::string_view more) override { text.insert(0, more); }
};

class CountingIndicator final : public Indicator {
public:
    int count = 0;
    void switchOn() override { ++count; }
};

class RecordingStatus final : public StatusDisplay {
public:
    std::vector<std::string> shown;
    std::string latest;
    void showStatus(std::string_view message) override { shown.emplace_back(message); }
    void setLatestStatus(std::string_view message) override { latest = message; }
};

class RecordingOutlet final : public SimulatorOutlet {
public:
    bool up = true;
    bool ready = true;
    // What a send reports; like TGC, a link that is not ready drops the shot.
    bool writes = true;
    std::vector<std::string> sent;
    std::vector<ShotOutcome> letGo;
    bool isUp() const override { return up; }
    bool isReady() const override { return ready; }
    void send(std::string_view message) override {
        delivered_ = ready && writes;
        if (*delivered_) sent.emplace_back(message);
    }
    std::optional<bool> lastSendDelivered() const override { return delivered_; }
    void notSent(std::string_view, ShotOutcome why) override { letGo.push_back(why); }

private:
    std::optional<bool> delivered_;
};

class RecordingObserver final : public ShotObserver {
public:
    struct Seen {
        ShotOutcome outcome;
        std::optional<bool> delivered;
        std::string message;
        std::int32_t backSpin;
    };
    std::vector<Seen> seen;
    void shotRouted(const RoutedShot& routed) override {
        seen.push_back({routed.outcome, routed.delivered, std::string(routed.message), routed.shot.backSpin});
    }
};

class RecordingWriter final : public CommandWriter {
public:
    CommandWriteResult result;
    std::vector<std::string> written;
    CommandWriteResult writeCommand(std::string_view command) override {
        written.emplace_back(command);
        return result;
    }
};

// The device's own example shot, as it arrives on the wire.
inline constexpr std::string_view exampleShot =
    "ES16Prt001CS093.0BS131.1CD000.0TD000.0LA13.1SP04217SF1.40CL5IrSPA-01.4DIR-04.8LDA00.0AA+0.0DL00.0"
    "MH000.0SC+000.0ST+000.0CPTH+00.0CFAC+00.0SPL00.0HT00.00BV0.00VER109End";

}  // namespace taltrix::testing
