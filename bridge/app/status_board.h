// The status display every part of the bridge reports through: the message
// label `lbl_message` and, in debug mode, the numbered trace `txt_status`.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "bridge/shot/ports.h"

namespace taltrix::app {

// Where the status display shows its texts.
class StatusView {
public:
    virtual ~StatusView() = default;
    virtual void setMessageLabel(std::string_view text) = 0;
    virtual void setTraceText(std::string_view text) = 0;
    // Every status message and every label-only update, once each, as it
    // happens (the headless front end prints them).
    virtual void statusLine(std::string_view message) = 0;
};

class StatusBoard final : public StatusDisplay {
public:
    static constexpr std::size_t traceLimit = 10000;

    explicit StatusBoard(StatusView& view) : view_(view) {}

    // fn_show_status: a trace line when the trace is on, newest first; then
    // the message label shows the message unless it already does.
    void showStatus(std::string_view message) override;
    // Sets the latest status message without showing it.
    void setLatestStatus(std::string_view message) override;
    // The message label alone, without a trace line.
    void showLabelOnly(std::string_view text);
    // Both status texts emptied and the empty label shown (window load).
    void clear();

    // Hears every status message and label-only update; empty for nobody.
    void setListener(std::function<void(std::string_view)> listener) { listener_ = std::move(listener); }
    // Told after every report, shown or only kept as the latest: the links
    // report every change of theirs here. Empty for nobody.
    void setReportListener(std::function<void()> listener) { reportListener_ = std::move(listener); }

    void setTraceEnabled(bool on) { traceEnabled_ = on; }
    bool traceEnabled() const { return traceEnabled_; }
    const std::string& traceText() const { return trace_; }
    std::uint32_t traceCounter() const { return counter_; }
    const std::string& labelText() const { return label_; }
    const std::string& latestStatus() const { return latest_; }

private:
    void showLabel(std::string_view text);

    StatusView& view_;
    bool traceEnabled_ = false;
    std::uint32_t counter_ = 0;
    std::string trace_;
    std::string latest_;
    std::string label_;
    std::function<void(std::string_view)> listener_;
    std::function<void()> reportListener_;
};

}  // namespace taltrix::app
