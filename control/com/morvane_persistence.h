// The control's persistence interfaces: IPersistStreamInit (and IPersist),
// IPersistStorage and IPersistPropertyBag, all saving and loading the
// persisted properties (morvane_persistence_format.h).
//
// They live in a part of the control that shares its identity: every
// QueryInterface, AddRef and Release goes to the control's controlling
// unknown, so aggregation behaves as for the control's other interfaces.
//
// Contract points worth knowing:
// - A load reads everything first and applies nothing unless all of it is
//   good; should a property still refuse its value while being applied, the
//   values from before the load are put back. Either way a failed load
//   leaves the control as it was, and uninitialized.
// - InitNew or Load on an object already initialized (by any of the three
//   interfaces) fails: E_UNEXPECTED, or CO_E_ALREADYINITIALIZED through
//   IPersistStorage.
// - IsDirty compares the current values with those last loaded, saved (with
//   clearDirty) or given by InitNew; setting a property back to its saved
//   value makes the control clean again.
// - A property bag load takes a property the bag lacks at its default value.
//   A value the bag cannot give as the property's type, or one the property
//   refuses, is reported to the error log and fails the load (E_FAIL from
//   the bag, or the property's out-of-range error).
// - IPersistStorage keeps the data in a stream named "Contents" of the
//   storage, in the stream format.
#pragma once

#include <optional>

#include "control/com/morvane_persistence_format.h"
#include "platform/com/persist.h"

namespace morvane {

class Morvane;

class MorvanePersistence final : public IPersistStreamInit, public IPersistStorage, public IPersistPropertyBag {
public:
    explicit MorvanePersistence(Morvane& owner) : owner_(owner) {}
    MorvanePersistence(const MorvanePersistence&) = delete;
    MorvanePersistence& operator=(const MorvanePersistence&) = delete;

    // The interface the control answers for `iid`, or null. No AddRef.
    IUnknown* find(REFIID iid);

    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IPersist.
    HRESULT GetClassID(CLSID* clsid) override;

    // IPersistStreamInit (InitNew and IsDirty shared with the others).
    HRESULT IsDirty() override;
    HRESULT Load(IStream* stream) override;
    HRESULT Save(IStream* stream, BOOL clearDirty) override;
    HRESULT GetSizeMax(ULARGE_INTEGER* size) override;
    HRESULT InitNew() override;

    // IPersistStorage.
    HRESULT InitNew(IStorage* storage) override;
    HRESULT Load(IStorage* storage) override;
    HRESULT Save(IStorage* storage, BOOL sameAsLoad) override;
    HRESULT SaveCompleted(IStorage* newStorage) override;
    HRESULT HandsOffStorage() override;

    // IPersistPropertyBag.
    HRESULT Load(IPropertyBag* bag, IErrorLog* log) override;
    HRESULT Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAllProperties) override;

private:
    // The storage protocol's states.
    enum class StorageState { Normal, NoScribble, HandsOff };

    HRESULT current(PersistedValues& values);
    HRESULT putChanged(const PersistedValues& values);
    // Puts every value, restoring the earlier ones if a put fails.
    HRESULT apply(const PersistedValues& values);
    HRESULT initializeWith(const PersistedValues& values);

    Morvane& owner_;
    bool initialized_ = false;
    // What the control held when it was last loaded or saved.
    std::optional<PersistedValues> clean_;
    com::ComPtr<IStorage> storage_;
    StorageState storageState_ = StorageState::Normal;
    // A storage save waiting for SaveCompleted: what it wrote, and whether
    // to the storage the object holds.
    std::optional<PersistedValues> pendingSave_;
    bool pendingSameAsLoad_ = false;
};

}  // namespace morvane
