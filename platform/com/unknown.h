// IUnknown and a reference-holding pointer for it.
//
// Interfaces are abstract classes with pure virtual methods in the order of
// the real interfaces, so their vtables have the layout of the binary
// convention. Their destructors are protected and non-virtual: an interface
// pointer is never deleted, only released, and a virtual destructor would add
// vtable slots. Each interface names its own IID as the static member `uuid`.
#pragma once

#include <cstddef>
#include <utility>

#include "platform/com/guid.h"

inline constexpr IID IID_IUnknown = com::makeGuid("{00000000-0000-0000-C000-000000000046}");

struct IUnknown {
    static constexpr const IID& uuid = IID_IUnknown;

    virtual HRESULT QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

    template <class Q>
    HRESULT QueryInterface(Q** object) {
        return QueryInterface(Q::uuid, reinterpret_cast<void**>(object));
    }

protected:
    ~IUnknown() = default;
};

namespace com {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    // Takes a reference of its own, like every copy of an interface pointer.
    explicit ComPtr(T* p) : p_(p) {
        if (p_) p_->AddRef();
    }
    // Adopts a reference the caller already owns.
    static ComPtr attach(T* p) {
        ComPtr result;
        result.p_ = p;
        return result;
    }
    ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(const ComPtr& other) {
        ComPtr(other).swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).swap(*this);
        return *this;
    }
    ~ComPtr() { reset(); }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T& operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // For [out] parameters: releases what is held and lends the slot.
    T** put() {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    T* detach() { return std::exchange(p_, nullptr); }
    void reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    void swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

    // Hands out a new reference through an [out] pointer.
    HRESULT copyTo(T** out) const {
        if (out == nullptr) return E_POINTER;
        *out = p_;
        if (p_) p_->AddRef();
        return S_OK;
    }

    template <class U>
    ComPtr<U> as() const {
        ComPtr<U> result;
        if (p_) p_->QueryInterface(U::uuid, result.putVoid());
        return result;
    }

    friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }

private:
    T* p_ = nullptr;
};

}  // namespace com
