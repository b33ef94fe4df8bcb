#include "bridge/app/status_board.h"

namespace taltrix::app {

void StatusBoard::showStatus(std::string_view message) {
    latest_ = std::string(message);
    if (traceEnabled_) {
        ++counter_;
        std::string trace = std::to_string(counter_) + ") ";
        trace += message;
        trace += "\r\n";
        trace += trace_;
        if (trace.size() > traceLimit) {
            trace.resize(traceLimit);
        }
        trace_ = std::move(trace);
        view_.setTraceText(trace_);
    }
    if (label_ != latest_) {
        showLabel(latest_);
    }
    view_.statusLine(message);
    if (listener_) listener_(message);
    if (reportListener_) reportListener_();
}

void StatusBoard::setLatestStatus(std::string_view message) {
    latest_ = std::string(message);
    if (reportListener_) reportListener_();
}

void StatusBoard::showLabelOnly(std::string_view text) {
    showLabel(text);
    view_.statusLine(text);
    if (listener_) listener_(text);
    if (reportListener_) reportListener_();
}

void StatusBoard::clear() {
    latest_.clear();
    showLabel("");
}

void StatusBoard::showLabel(std::string_view text) {
    label_ = std::string(text);
    view_.setMessageLabel(label_);
}

}  // namespace taltrix::app
