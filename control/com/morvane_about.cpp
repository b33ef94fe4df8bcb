#include "control/com/morvane_about.h"

#include <atomic>
#include <cstdio>
#include <string>

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
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

}  // namespace morvane
