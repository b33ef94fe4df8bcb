#include "platform/com/message_box.h"

#include <atomic>
#include <cstdio>

namespace com {
namespace {

std::atomic<MessageBoxService> installed{nullptr};

}  // namespace

MessageBoxService setMessageBoxService(MessageBoxService service) { return installed.exchange(service); }

void showMessageBox(const std::string& caption, const std::string& text) {
    if (MessageBoxService service = installed.load()) {
        service(caption, text);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

}  // namespace com
