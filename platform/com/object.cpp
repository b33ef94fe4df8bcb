#include "platform/com/object.h"

#include <new>

namespace com {

namespace {
// Set while an object is being destroyed, so that an AddRef/Release pair made
// by its destructor cannot destroy it a second time.
constexpr ULONG kDestroying = 0x40000000;
}  // namespace

HRESULT ObjectRoot::Inner::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown) {
        *object = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    IUnknown* found = root_->findInterface(iid);
    if (found == nullptr) {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // Through the interface, so an aggregate's outer object gets the reference.
    found->AddRef();
    *object = found;
    return S_OK;
}

ULONG ObjectRoot::Inner::AddRef() { return ++root_->count_; }

ULONG ObjectRoot::Inner::Release() {
    const ULONG remaining = --root_->count_;
    if (remaining == 0) {
        root_->count_ = kDestroying;
        delete root_;
    }
    return remaining;
}

HRESULT ObjectRoot::delegatingQueryInterface(REFIID iid, void** object) {
    return controllingUnknown()->QueryInterface(iid, object);
}

ULONG ObjectRoot::delegatingAddRef() { return controllingUnknown()->AddRef(); }

ULONG ObjectRoot::delegatingRelease() { return controllingUnknown()->Release(); }

}  // namespace com
