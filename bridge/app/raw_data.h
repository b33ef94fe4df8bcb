// The raw-data box `meAns`: what the launch monitor sent, with the club
// commands written back on top.
#pragma once

#include <string>
#include <string_view>

#include "bridge/shot/ports.h"

namespace taltrix::app {

class RawDataView {
public:
    virtual ~RawDataView() = default;
    virtual void setRawDataText(std::string_view text) = 0;
};

class RawData final : public RawDataBox {
public:
    // The box holds what a text box of the other platform held. Data keeps
    // arriving for as long as the bridge runs, so the oldest text goes: the
    // front for appended text, the end for text put on top.
    static constexpr std::size_t capacity = 65535;

    explicit RawData(RawDataView& view) : view_(view) {}

    bool isVisible() const override { return visible_; }
    void append(std::string_view text) override;
    void prepend(std::string_view text) override;

    void setVisible(bool visible) { visible_ = visible; }
    const std::string& text() const { return text_; }

private:
    RawDataView& view_;
    bool visible_ = false;
    std::string text_;
};

}  // namespace taltrix::app
