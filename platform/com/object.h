// Identity, reference counting and aggregation for objects that implement
// interfaces, so a component writes only its interface map and its methods:
//
//   class Widget final : public com::Object<IWidget, IConnectionPointContainer> {
//     IUnknown* findInterface(REFIID iid) override {
//       if (iid == IID_IDispatch || iid == IWidget::uuid) return static_cast<IWidget*>(this);
//       ...
//       return nullptr;
//     }
//   };
//
// Created alone, the object is its own identity. Created as part of an
// aggregate (an outer object given to IClassFactory::CreateInstance), every
// interface's QueryInterface/AddRef/Release goes to the outer object, and only
// innerUnknown() (which the outer object holds) answers for the object itself.
#pragma once

#include <atomic>
#include <new>
#include <utility>

#include "platform/com/unknown.h"

namespace com {

class ObjectRoot {
public:
    ObjectRoot(const ObjectRoot&) = delete;
    ObjectRoot& operator=(const ObjectRoot&) = delete;

    // The object's own, never delegating, IUnknown.
    IUnknown* innerUnknown() { return &inner_; }
    // The outer object when aggregated, else innerUnknown().
    IUnknown* controllingUnknown() { return outer_ ? outer_ : &inner_; }
    bool aggregated() const { return outer_ != nullptr; }
    // Only right after construction, before any reference is handed out. The
    // outer object is not AddRef'd: it owns us, not the other way round.
    void setOuter(IUnknown* outer) { outer_ = outer; }

protected:
    ObjectRoot() : inner_(this) {}
    virtual ~ObjectRoot() = default;

    // The interface pointer for `iid` (not IUnknown), or null. No AddRef.
    virtual IUnknown* findInterface(REFIID iid) = 0;

    HRESULT delegatingQueryInterface(REFIID iid, void** object);
    ULONG delegatingAddRef();
    ULONG delegatingRelease();

private:
    class Inner final : public IUnknown {
    public:
        explicit Inner(ObjectRoot* root) : root_(root) {}
        HRESULT QueryInterface(REFIID iid, void** object) override;
        ULONG AddRef() override;
        ULONG Release() override;

    private:
        ObjectRoot* root_;
    };

    Inner inner_;
    IUnknown* outer_ = nullptr;
    std::atomic<ULONG> count_{0};
};

template <class... Interfaces>
class Object : public Interfaces..., public ObjectRoot {
public:
    HRESULT QueryInterface(REFIID iid, void** object) override { return delegatingQueryInterface(iid, object); }
    ULONG AddRef() override { return delegatingAddRef(); }
    ULONG Release() override { return delegatingRelease(); }

protected:
    Object() = default;
    ~Object() override = default;
};

// Creates a T on its own (outer null) or as part of an aggregate, and asks it
// for `iid`; on failure the object is destroyed. Aggregation requires
// iid == IID_IUnknown (else CLASS_E_NOAGGREGATION), as the protocol demands.
template <class T, class... Args>
HRESULT createObject(IUnknown* outer, REFIID iid, void** object, Args&&... args) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr && iid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    T* created = new (std::nothrow) T(std::forward<Args>(args)...);
    if (created == nullptr) return E_OUTOFMEMORY;
    created->setOuter(outer);
    IUnknown* inner = created->innerUnknown();
    inner->AddRef();
    const HRESULT hr = inner->QueryInterface(iid, object);
    inner->Release();
    return hr;
}

}  // namespace com
