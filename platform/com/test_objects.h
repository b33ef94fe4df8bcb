// Small hand-written objects the runtime's tests pass around.
#pragma once

#include "platform/com/dispatch.h"

namespace com::testing {

// An IDispatch whose value property (DISPID 0) is a fixed variant, and which
// counts its references so tests can see AddRef/Release balance.
class ValueObject final : public com::UntypedDispatch {
 public:
  explicit ValueObject(VARIANT value) : value_(value) {}
  ~ValueObject() { VariantClear(&value_); }
  ValueObject(const ValueObject&) = delete;
  ValueObject& operator=(const ValueObject&) = delete;

  ULONG references() const { return count_; }

  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++count_; }
  ULONG Release() override { return --count_; }  // lives on the test's stack
  HRESULT Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                 UINT*) override {
    if (member != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    return result ? VariantCopy(result, &value_) : S_OK;
  }

 private:
  VARIANT value_;
  ULONG count_ = 0;
};

}  // namespace com::testing
