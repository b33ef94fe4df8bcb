// IClassFactory: how a server library hands out instances of its classes.
#pragma once

#include "platform/com/unknown.h"

inline constexpr IID IID_IClassFactory = com::makeGuid("{00000001-0000-0000-C000-000000000046}");

struct IClassFactory : IUnknown {
    static constexpr const IID& uuid = IID_IClassFactory;
    // With `outer` the instance becomes part of that aggregate; `riid` must
    // then be IID_IUnknown.
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) = 0;
    // TRUE keeps the server loaded without any instance alive; FALSE undoes one.
    virtual HRESULT LockServer(BOOL lock) = 0;

protected:
    ~IClassFactory() = default;
};
