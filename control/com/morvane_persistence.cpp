#include "control/com/morvane_persistence.h"

#include <new>

#include "control/com/morvane_control.h"

namespace morvane {
namespace {

constexpr const OLECHAR* contentsStream = u"Contents";

void logError(IErrorLog* log, const PersistedProperty& property, HRESULT code, std::u16string_view text) {
    if (log == nullptr) return;
    com::ExcepInfo error;
    error.scode = code;
    error.bstrSource = com::allocBstr(u"Morvane");
    error.bstrDescription = com::allocBstr(text);
    log->AddError(property.wideName.data(), &error);
}

}  // namespace

IUnknown* MorvanePersistence::find(REFIID iid) {
    if (iid == IID_IPersistStreamInit || iid == IID_IPersist) return static_cast<IPersistStreamInit*>(this);
    if (iid == IID_IPersistStorage) return static_cast<IPersistStorage*>(this);
    if (iid == IID_IPersistPropertyBag) return static_cast<IPersistPropertyBag*>(this);
    return nullptr;
}

HRESULT MorvanePersistence::QueryInterface(REFIID iid, void** object) {
    return owner_.controllingUnknown()->QueryInterface(iid, object);
}

ULONG MorvanePersistence::AddRef() { return owner_.controllingUnknown()->AddRef(); }

ULONG MorvanePersistence::Release() { return owner_.controllingUnknown()->Release(); }

HRESULT MorvanePersistence::GetClassID(CLSID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    *clsid = CLSID_Morvane;
    return S_OK;
}

HRESULT MorvanePersistence::current(PersistedValues& values) {
    const auto list = persistedProperties();
    for (std::size_t i = 0; i < list.size(); ++i) {
        com::Variant value;
        if (HRESULT hr = owner_.getProperty(list[i].dispid, std::nullopt, &value); FAILED(hr)) return hr;
        values[i] = std::move(value);
    }
    return S_OK;
}

// Some puts reach beyond their own property: turning either auto-detection
// on or off clears the firewall's host and port, and choosing a firewall
// type fills in its usual port. A value that is already in place is
// therefore not put again, so that a later property in the list cannot undo
// an earlier one when nothing about it changed.
HRESULT MorvanePersistence::putChanged(const PersistedValues& values) {
    const auto list = persistedProperties();
    for (std::size_t i = 0; i < list.size(); ++i) {
        com::Variant now;
        if (HRESULT hr = owner_.getProperty(list[i].dispid, std::nullopt, &now); FAILED(hr)) return hr;
        if (samePersistedValue(now, values[i])) continue;
        const HRESULT hr = owner_.putProperty(list[i].dispid, std::nullopt, values[i]);
        if (SUCCEEDED(hr)) continue;
        // SSLCertSubject keeps a subject whose certificate is not in the
        // store (yet): the put reports it, the value stands and is looked up
        // again at connection time. A saved document must still load then.
        com::Variant after;
        if (SUCCEEDED(owner_.getProperty(list[i].dispid, std::nullopt, &after)) &&
            samePersistedValue(after, values[i])) {
            SetErrorInfo(0, nullptr);
            continue;
        }
        return hr;
    }
    return S_OK;
}

HRESULT MorvanePersistence::apply(const PersistedValues& values) {
    PersistedValues before;
    if (HRESULT hr = current(before); FAILED(hr)) return hr;
    const HRESULT hr = putChanged(values);
    if (FAILED(hr)) putChanged(before);
    return hr;
}

HRESULT MorvanePersistence::initializeWith(const PersistedValues& values) {
    if (HRESULT hr = apply(values); FAILED(hr)) return hr;
    clean_ = values;
    initialized_ = true;
    return S_OK;
}

HRESULT MorvanePersistence::IsDirty() {
    try {
        PersistedValues values;
        if (HRESULT hr = current(values); FAILED(hr)) return hr;
        const PersistedValues reference = clean_ ? *clean_ : defaultPersistedValues();
        return samePersistedValues(values, reference) ? S_FALSE : S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT MorvanePersistence::InitNew() {
    if (initialized_) return E_UNEXPECTED;
    try {
        return initializeWith(defaultPersistedValues());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT MorvanePersistence::Load(IStream* stream) {
    if (stream == nullptr) return E_POINTER;
    if (initialized_) return E_UNEXPECTED;
    try {
        PersistedValues values;
        if (HRESULT hr = readPersistedValues(stream, values); FAILED(hr)) return hr;
        return initializeWith(values);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT MorvanePersistence::Save(IStream* stream, BOOL clearDirty) {
    if (stream == nullptr) return E_POINTER;
    try {
        PersistedValues values;
        if (HRESULT hr = current(values); FAILED(hr)) return hr;
        if (HRESULT hr = writePersistedValues(stream, values); FAILED(hr)) return hr;
        if (clearDirty) clean_ = std::move(values);
        owner_.ole_.advise.sendOnSave();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT MorvanePersistence::GetSizeMax(ULARGE_INTEGER* size) {
    if (size == nullptr) return E_POINTER;
    try {
        PersistedValues values;
        if (HRESULT hr = current(values); FAILED(hr)) return hr;
        size->QuadPart = encodePersistedValues(values).size();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT MorvanePersistence::InitNew(IStorage* storage) {
    if (storage == nullptr) return E_POINTER;
    if (initialized_) return CO_E_ALREADYINITIALIZED;
    if (HRESULT hr = InitNew(); FAILED(hr)) return hr;
    storage_ = com::ComPtr<IStorage>(storage);
    storageState_ = StorageState::Normal;
    return S_OK;
}

HRESULT MorvanePersistence::Load(IStorage* storage) {
    if (storage == nullptr) return E_POINTER;
    if (initialized_) return CO_E_ALREADYINITIALIZED;
    com::ComPtr<IStream> stream;
    if (HRESULT hr = storage->OpenStream(contentsStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.put());
        FAILED(hr)) {
        return hr;
    }
    if (HRESULT hr = Load(stream.get()); FAILED(hr)) return hr;
    storage_ = com::ComPtr<IStorage>(storage);
    storageState_ = StorageState::Normal;
    return S_OK;
}

HRESULT MorvanePersistence::Save(IStorage* storage, BOOL sameAsLoad) {
    if (storage == nullptr) return E_POINTER;
    // While hands-off the object holds no storage to be the same as.
    if (storageState_ == StorageState::HandsOff && sameAsLoad) return E_UNEXPECTED;
    try {
        PersistedValues values;
        if (HRESULT hr = current(values); FAILED(hr)) return hr;
        com::ComPtr<IStream> stream;
        if (HRESULT hr = storage->CreateStream(contentsStream, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                               0, stream.put());
            FAILED(hr)) {
            return hr;
        }
        if (HRESULT hr = writePersistedValues(stream.get(), values); FAILED(hr)) return hr;
        pendingSave_ = std::move(values);
        pendingSameAsLoad_ = sameAsLoad != FALSE;
        if (storageState_ == StorageState::Normal) storageState_ = StorageState::NoScribble;
        owner_.ole_.advise.sendOnSave();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT MorvanePersistence::SaveCompleted(IStorage* newStorage) {
    if (storageState_ == StorageState::Normal) return E_UNEXPECTED;
    if (storageState_ == StorageState::HandsOff && newStorage == nullptr) return E_INVALIDARG;
    // Saved into the storage the object keeps (or is now given): that save
    // is the document, so the object is clean. A "save a copy" is not.
    if (pendingSave_ && (newStorage != nullptr || pendingSameAsLoad_)) clean_ = std::move(*pendingSave_);
    pendingSave_.reset();
    if (newStorage != nullptr) storage_ = com::ComPtr<IStorage>(newStorage);
    storageState_ = StorageState::Normal;
    return S_OK;
}

HRESULT MorvanePersistence::HandsOffStorage() {
    if (!initialized_) return E_UNEXPECTED;
    storage_.reset();
    storageState_ = StorageState::HandsOff;
    return S_OK;
}

HRESULT MorvanePersistence::Load(IPropertyBag* bag, IErrorLog* log) {
    if (bag == nullptr) return E_POINTER;
    if (initialized_) return E_UNEXPECTED;
    try {
        PersistedValues values = defaultPersistedValues();
        HRESULT failure = S_OK;
        const auto list = persistedProperties();
        for (std::size_t i = 0; i < list.size(); ++i) {
            com::Variant value;
            value.vt = variantTypeOf(list[i].kind);
            HRESULT hr = bag->Read(list[i].wideName.data(), &value, log);
            if (hr == E_INVALIDARG) continue;
            if (SUCCEEDED(hr) && value.vt != variantTypeOf(list[i].kind)) {
                // A bag that ignored the type asked for.
                hr = value.changeType(variantTypeOf(list[i].kind));
                if (FAILED(hr)) logError(log, list[i], hr, u"The value does not have the property's type.");
            }
            if (SUCCEEDED(hr)) {
                hr = checkPersistedValue(list[i], value);
                if (FAILED(hr)) logError(log, list[i], hr, u"Value is out of range.");
            }
            if (FAILED(hr)) {
                // Every bad property goes to the log before the load fails.
                if (SUCCEEDED(failure)) failure = hr;
                continue;
            }
            values[i] = std::move(value);
        }
        if (FAILED(failure)) return failure;
        return initializeWith(values);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT MorvanePersistence::Save(IPropertyBag* bag, BOOL clearDirty, BOOL) {
    if (bag == nullptr) return E_POINTER;
    try {
        PersistedValues values;
        if (HRESULT hr = current(values); FAILED(hr)) return hr;
        // Every property is written, changed or not: a bag is the whole
        // saved state, and a reader takes what is missing at its default.
        const auto list = persistedProperties();
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (HRESULT hr = bag->Write(list[i].wideName.data(), &values[i]); FAILED(hr)) return hr;
        }
        if (clearDirty) clean_ = std::move(values);
        owner_.ole_.advise.sendOnSave();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace morvane
