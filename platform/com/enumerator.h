// A snapshot enumerator (IEnumOLEVERB, IEnumSTATDATA, ...) over items copied
// when it is created. Clones share the snapshot and copy the position. The
// object that handed it out stays alive as long as the enumerator does, so a
// server cannot be unloaded under it.
//
// `Traits` says how an item is handed to the caller:
//   static HRESULT copy(Item& out, const Item& in);  // a caller-owned copy
//   static void clear(Item& item);                    // undoes copy()
#pragma once

#include <memory>
#include <vector>

#include "platform/com/object.h"

namespace com {

template <class Enum, class Traits>
class Enumerator final : public Object<Enum> {
public:
    using Item = typename Enum::Item;
    using Items = std::shared_ptr<const std::vector<Item>>;

    Enumerator(Items items, IUnknown* owner, std::size_t position = 0)
        : items_(std::move(items)), owner_(owner), position_(position) {}

    HRESULT Next(ULONG count, Item* out, ULONG* fetched) override {
        if (fetched) *fetched = 0;
        if (out == nullptr) return E_POINTER;
        // Without a place to say how many came back, only one may be asked for.
        if (fetched == nullptr && count != 1) return E_INVALIDARG;
        ULONG copied = 0;
        while (copied < count && position_ < items_->size()) {
            const HRESULT hr = Traits::copy(out[copied], (*items_)[position_]);
            if (FAILED(hr)) {
                // Nothing handed out, nothing used up.
                position_ -= copied;
                while (copied > 0) Traits::clear(out[--copied]);
                return hr;
            }
            ++copied;
            ++position_;
        }
        if (fetched) *fetched = copied;
        return copied == count ? S_OK : S_FALSE;
    }

    HRESULT Skip(ULONG count) override {
        const std::size_t left = items_->size() - position_;
        if (count > left) {
            position_ = items_->size();
            return S_FALSE;
        }
        position_ += count;
        return S_OK;
    }

    HRESULT Reset() override {
        position_ = 0;
        return S_OK;
    }

    HRESULT Clone(Enum** copy) override {
        if (copy == nullptr) return E_POINTER;
        return create(items_, owner_.get(), copy, position_);
    }

    static HRESULT create(Items items, IUnknown* owner, Enum** out, std::size_t position = 0) {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        auto* made = new (std::nothrow) Enumerator(std::move(items), owner, position);
        if (made == nullptr) return E_OUTOFMEMORY;
        IUnknown* inner = made->innerUnknown();
        inner->AddRef();
        const HRESULT hr = inner->QueryInterface(Enum::uuid, reinterpret_cast<void**>(out));
        inner->Release();
        return hr;
    }

private:
    IUnknown* findInterface(REFIID iid) override { return iid == Enum::uuid ? static_cast<Enum*>(this) : nullptr; }

    Items items_;
    ComPtr<IUnknown> owner_;
    std::size_t position_;
};

}  // namespace com
