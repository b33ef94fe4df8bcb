#include "platform/com/creation.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/com/registry.h"

namespace {

using GetClassObjectFunction = HRESULT (*)(REFCLSID, REFIID, void**);
using CanUnloadNowFunction = HRESULT (*)();

// How many CurVer links are followed before a loop is assumed.
constexpr int kMaxCurVerDepth = 8;

std::mutex librariesMutex;
std::map<std::string, void*> libraries;  // by path, as registered
thread_local std::string lastLoadFailure;
thread_local int initialisations = 0;

std::string classKey(REFCLSID clsid) { return "CLSID\\" + com::formatGuid(clsid); }

HRESULT loadLibrary(const std::string& path, void*& handle) {
    std::lock_guard lock(librariesMutex);
    if (auto it = libraries.find(path); it != libraries.end()) {
        handle = it->second;
        return S_OK;
    }
    handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = ::dlerror();
        lastLoadFailure = reason ? reason : "cannot load " + path;
        return CO_E_DLLNOTFOUND;
    }
    libraries.emplace(path, handle);
    return S_OK;
}

std::string narrow(LPCOLESTR text) {
    std::string out;
    for (; text && *text; ++text) {
        if (*text > 0x7F || out.size() > 1024) return {};  // ProgIDs are short ASCII names
        out.push_back(static_cast<char>(*text));
    }
    return out;
}

}  // namespace

HRESULT CoInitialize(void* reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

HRESULT CoInitializeEx(void*, DWORD) { return initialisations++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
    if (initialisations > 0 && --initialisations == 0) CoFreeUnusedLibraries();
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!(context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER))) return REGDB_E_CLASSNOTREG;
    HRESULT hr = S_OK;
    const auto root = com::registry::ClassesRoot::load(&hr);
    if (!root) return hr;
    const auto path = root->queryString(classKey(clsid) + "\\InprocServer32");
    if (!path || path->empty()) return REGDB_E_CLASSNOTREG;
    void* library = nullptr;
    hr = loadLibrary(*path, library);
    if (FAILED(hr)) return hr;
    auto getClassObject = reinterpret_cast<GetClassObjectFunction>(::dlsym(library, "DllGetClassObject"));
    if (getClassObject == nullptr) {
        lastLoadFailure = *path + " does not export DllGetClassObject";
        return CO_E_ERRORINDLL;
    }
    return getClassObject(clsid, riid, object);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    com::ComPtr<IClassFactory> factory;
    const HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, factory.putVoid());
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(outer, riid, object);
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) {
    if (progId == nullptr || clsid == nullptr) return E_INVALIDARG;
    *clsid = GUID_NULL;
    std::string name = narrow(progId);
    if (name.empty() || !com::registry::splitPath(name) || name.find('\\') != std::string::npos) {
        return CO_E_CLASSSTRING;
    }
    HRESULT hr = S_OK;
    const auto root = com::registry::ClassesRoot::load(&hr);
    if (!root) return hr;
    for (int depth = 0; depth < kMaxCurVerDepth; ++depth) {
        const auto current = root->queryString(name + "\\CurVer");
        if (!current || current->empty() || current->find('\\') != std::string::npos ||
            !root->keyExists(*current + "\\CLSID")) {
            break;
        }
        name = *current;
    }
    const auto text = root->queryString(name + "\\CLSID");
    if (!text) return CO_E_CLASSSTRING;
    const auto guid = com::parseGuid(std::string_view(*text));
    if (!guid) return CO_E_CLASSSTRING;
    *clsid = *guid;
    return S_OK;
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) {
    if (progId == nullptr) return E_INVALIDARG;
    *progId = nullptr;
    HRESULT hr = S_OK;
    const auto root = com::registry::ClassesRoot::load(&hr);
    if (!root) return hr;
    const auto name = root->queryString(classKey(clsid) + "\\ProgID");
    if (!name || name->empty()) return REGDB_E_CLASSNOTREG;
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((name->size() + 1) * sizeof(OLECHAR)));
    if (out == nullptr) return E_OUTOFMEMORY;
    for (std::size_t i = 0; i < name->size(); ++i) out[i] = static_cast<unsigned char>((*name)[i]);
    out[name->size()] = 0;
    *progId = out;
    return S_OK;
}

void CoFreeUnusedLibraries() {
    std::lock_guard lock(librariesMutex);
    for (auto it = libraries.begin(); it != libraries.end();) {
        auto canUnload = reinterpret_cast<CanUnloadNowFunction>(::dlsym(it->second, "DllCanUnloadNow"));
        if (canUnload != nullptr && canUnload() == S_OK) {
            ::dlclose(it->second);
            it = libraries.erase(it);
        } else {
            ++it;
        }
    }
}

void* CoTaskMemAlloc(std::size_t size) { return std::malloc(size == 0 ? 1 : size); }

void CoTaskMemFree(void* block) { std::free(block); }

namespace com {

HRESULT classIdOf(std::string_view progIdOrClsid, CLSID& clsid) {
    if (!progIdOrClsid.empty() && progIdOrClsid.front() == '{') {
        const auto guid = parseGuid(progIdOrClsid);
        if (!guid) return CO_E_CLASSSTRING;
        clsid = *guid;
        return S_OK;
    }
    const std::u16string wide(progIdOrClsid.begin(), progIdOrClsid.end());
    return CLSIDFromProgID(wide.c_str(), &clsid);
}

HRESULT createInstance(std::string_view progIdOrClsid, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    CLSID clsid{};
    const HRESULT hr = classIdOf(progIdOrClsid, clsid);
    if (FAILED(hr)) return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, riid, object);
}

std::string lastLoadError() { return lastLoadFailure; }

}  // namespace com
