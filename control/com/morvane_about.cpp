#include "control/com/morvane_about.h"

#include <atomic>
#include <string>

#include "platform/com/message_box.h"

namespace morvane {
namespace {

std::atomic<AboutBoxHook> installedHook{nullptr};

}  // namespace

void setAboutBoxHook(AboutBoxHook hook) { installedHook = hook; }

void showAboutBox() {
    const std::string caption(aboutCaption);
    const std::string text(aboutText);
    if (AboutBoxHook hook = installedHook.load()) {
        hook(caption.c_str(), text.c_str());
        return;
    }
    com::showMessageBox(caption, text);
}

}  // namespace morvane
