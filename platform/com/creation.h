// Creating objects of registered classes: the ProgID and CLSID look-ups in the
// classes root, loading the server library named by
// CLSID\{...}\InprocServer32 (dlopen, kept loaded until CoFreeUnusedLibraries
// finds it idle), and its class factory.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/class_factory.h"

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
inline constexpr DWORD COINIT_MULTITHREADED = 0x0;

// Bookkeeping only: there is one kind of apartment here. S_FALSE when the
// thread had already initialised.
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD flags);
void CoUninitialize();

// Only in-process servers exist; other contexts give REGDB_E_CLASSNOTREG.
// Errors: REGDB_E_CLASSNOTREG (no InprocServer32 entry), CO_E_DLLNOTFOUND
// (the library would not load; com::lastLoadError() says why),
// CO_E_ERRORINDLL (it lacks DllGetClassObject), REGDB_E_READREGDB, or what
// the server returns.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* serverInfo, REFIID riid, void** object);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object);
// Follows ProgID\CurVer to the current version first. CO_E_CLASSSTRING when
// the ProgID is not registered.
HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid);
// *progId is allocated with CoTaskMemAlloc.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId);
// Unloads the libraries whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();
void* CoTaskMemAlloc(std::size_t size);
void CoTaskMemFree(void* block);

namespace com {

// A class named by its ProgID or by its CLSID in braces.
HRESULT classIdOf(std::string_view progIdOrClsid, CLSID& clsid);
HRESULT createInstance(std::string_view progIdOrClsid, REFIID riid, void** object);

template <class T>
HRESULT createInstance(std::string_view progIdOrClsid, ComPtr<T>& object) {
    return createInstance(progIdOrClsid, T::uuid, object.putVoid());
}

// Why the last library load on this thread failed (dlerror's text).
std::string lastLoadError();

}  // namespace com
