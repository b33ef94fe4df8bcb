#include "bridge/app/raw_data.h"

namespace taltrix::app {

void RawData::append(std::string_view text) {
    text_ += text;
    if (text_.size() > capacity) {
        text_.erase(0, text_.size() - capacity);
    }
    view_.setRawDataText(text_);
}

void RawData::prepend(std::string_view text) {
    text_.insert(0, text);
    if (text_.size() > capacity) {
        text_.resize(capacity);
    }
    view_.setRawDataText(text_);
}

}  // namespace taltrix::app
