// Saving and loading an object's state: the IPersist family a container uses
// (with a stream, a storage or a property bag), the property bag and error
// log a container offers, and a memory property bag with a text form of one
// Name=Value line per property.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/dispatch.h"
#include "platform/com/object.h"
#include "platform/com/storage.h"
#include "platform/com/variant.h"

inline constexpr IID IID_IPersist = com::makeGuid("{0000010C-0000-0000-C000-000000000046}");
inline constexpr IID IID_IPersistStreamInit = com::makeGuid("{7FD52380-4E07-101B-AE2D-08002B2EC713}");
inline constexpr IID IID_IPersistStorage = com::makeGuid("{0000010A-0000-0000-C000-000000000046}");
inline constexpr IID IID_IPersistPropertyBag = com::makeGuid("{37D84F60-42CB-11CE-8135-00AA004BB851}");
inline constexpr IID IID_IPropertyBag = com::makeGuid("{55272A00-42CB-11CE-8135-00AA004BB851}");
inline constexpr IID IID_IErrorLog = com::makeGuid("{3127CA40-446E-11CE-8135-00AA004BB851}");

struct IPersist : IUnknown {
    static constexpr const IID& uuid = IID_IPersist;
    virtual HRESULT GetClassID(CLSID* clsid) = 0;

protected:
    ~IPersist() = default;
};

struct IPersistStreamInit : IPersist {
    static constexpr const IID& uuid = IID_IPersistStreamInit;
    // S_OK when changed since the last save, S_FALSE otherwise.
    virtual HRESULT IsDirty() = 0;
    virtual HRESULT Load(IStream* stream) = 0;
    virtual HRESULT Save(IStream* stream, BOOL clearDirty) = 0;
    virtual HRESULT GetSizeMax(ULARGE_INTEGER* size) = 0;
    virtual HRESULT InitNew() = 0;

protected:
    ~IPersistStreamInit() = default;
};

struct IPersistStorage : IPersist {
    static constexpr const IID& uuid = IID_IPersistStorage;
    virtual HRESULT IsDirty() = 0;
    virtual HRESULT InitNew(IStorage* storage) = 0;
    virtual HRESULT Load(IStorage* storage) = 0;
    virtual HRESULT Save(IStorage* storage, BOOL sameAsLoad) = 0;
    virtual HRESULT SaveCompleted(IStorage* newStorage) = 0;
    virtual HRESULT HandsOffStorage() = 0;

protected:
    ~IPersistStorage() = default;
};

struct IErrorLog : IUnknown {
    static constexpr const IID& uuid = IID_IErrorLog;
    virtual HRESULT AddError(LPCOLESTR propertyName, EXCEPINFO* error) = 0;

protected:
    ~IErrorLog() = default;
};

struct IPropertyBag : IUnknown {
    static constexpr const IID& uuid = IID_IPropertyBag;
    // `value`'s type on entry is the type wanted (VT_EMPTY: as stored).
    // E_INVALIDARG when the bag has no such property; E_FAIL when the value
    // cannot be given that type, after telling `log` (if any) why.
    virtual HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) = 0;
    virtual HRESULT Write(LPCOLESTR name, VARIANT* value) = 0;

protected:
    ~IPropertyBag() = default;
};

struct IPersistPropertyBag : IPersist {
    static constexpr const IID& uuid = IID_IPersistPropertyBag;
    virtual HRESULT InitNew() = 0;
    virtual HRESULT Load(IPropertyBag* bag, IErrorLog* log) = 0;
    virtual HRESULT Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAllProperties) = 0;

protected:
    ~IPersistPropertyBag() = default;
};

namespace com {

// A property bag in memory. Names compare without regard to ASCII case; a
// Write to a name already present replaces its value and keeps its place.
class MemoryPropertyBag final : public Object<IPropertyBag> {
public:
    using Entry = std::pair<std::u16string, Variant>;

    HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog* log) override;
    HRESULT Write(LPCOLESTR name, VARIANT* value) override;

    const std::vector<Entry>& entries() const { return entries_; }

    // One "Name=Value" line per entry, in UTF-8, each value as text (a
    // Boolean as True or False). In names and values a backslash, a line
    // feed and a carriage return are written as \\, \n and \r, so that every
    // value stays on its line. E_FAIL when an entry has no text form.
    HRESULT toText(std::string& text) const;
    // The reverse: every value becomes a string (the reader gives it the
    // type it wants). Blank lines are skipped. DISP_E_TYPEMISMATCH, with
    // `badLine` (1-based) set, for a line without '=', with an empty name, an
    // unknown escape or text that is not UTF-8.
    HRESULT fromText(std::string_view text, std::size_t* badLine = nullptr);

private:
    IUnknown* findInterface(REFIID iid) override;
    Entry* find(std::u16string_view name);

    std::vector<Entry> entries_;
};

// Creates a memory bag with one reference (Release it, or hand it to a
// ComPtr::attach).
MemoryPropertyBag* newMemoryPropertyBag();

}  // namespace com
