#include "platform/com/ole_control.h"

namespace com {

ModelessDialogsDisabled::ModelessDialogsDisabled(IOleClientSite* site) {
    if (site == nullptr) return;
    ComPtr<IOleInPlaceSite> inPlace;
    if (FAILED(site->QueryInterface(IID_IOleInPlaceSite, inPlace.putVoid())) || !inPlace) return;
    ComPtr<IOleInPlaceUIWindow> document;
    RECT position{};
    RECT clip{};
    OLEINPLACEFRAMEINFO info{};
    info.cb = sizeof(info);
    if (FAILED(inPlace->GetWindowContext(frame_.put(), document.put(), &position, &clip, &info))) {
        frame_.reset();
        return;
    }
    if (frame_) frame_->EnableModeless(FALSE);
}

ModelessDialogsDisabled::~ModelessDialogsDisabled() {
    if (frame_) frame_->EnableModeless(TRUE);
}

}  // namespace com
