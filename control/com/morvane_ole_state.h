// What the control keeps of its embedding in a container: advise sinks, the
// view's sink, the extent, the in-place state and the host's names.
#pragma once

#include <string>

#include "platform/com/advise_holder.h"
#include "platform/com/ole_control.h"

namespace morvane {

// 32 by 32 pixels: the frame with the toolbox picture inside it.
inline constexpr SIZEL defaultExtent{com::himetricFromPixels(32), com::himetricFromPixels(32)};

struct OleState {
    com::OleAdviseHolder advise;
    com::ComPtr<IAdviseSink> viewSink;
    DWORD viewAspects = 0;
    DWORD viewAdvf = 0;
    SIZEL extent = defaultExtent;
    bool inPlaceActive = false;
    bool uiActive = false;
    RECT position{};
    RECT clip{};
    LONG eventFreezes = 0;
    DWORD viewFreezes = 0;  // the last Freeze cookie handed out
    bool viewFrozen = false;
    std::u16string containerApp;
    std::u16string containerObject;
};

}  // namespace morvane
