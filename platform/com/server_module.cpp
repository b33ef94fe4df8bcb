#include <dlfcn.h>

#include <new>

#include "platform/com/server.h"

namespace com {

namespace {

class ClassFactory final : public Object<IClassFactory> {
public:
    explicit ClassFactory(CreateFunction create) : create_(create) {}

    HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override { return create_(outer, iid, object); }
    HRESULT LockServer(BOOL lock) override {
        if (lock) {
            ServerModule::instance().lock();
        } else {
            ServerModule::instance().unlock();
        }
        return S_OK;
    }

private:
    IUnknown* findInterface(REFIID iid) override {
        return iid == IID_IClassFactory ? static_cast<IClassFactory*>(this) : nullptr;
    }

    CreateFunction create_;
    ModuleReference module_;  // a factory held by a client keeps the library too
};

}  // namespace

ServerModule& ServerModule::instance() {
    static ServerModule module;
    return module;
}

std::string ServerModule::path() const {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<const void*>(&ServerModule::instance), &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    return info.dli_fname;
}

HRESULT getClassObject(std::span<const ClassEntry> classes, REFCLSID clsid, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    for (const ClassEntry& entry : classes) {
        if (entry.clsid != clsid) continue;
        auto* factory = new (std::nothrow) ClassFactory(entry.create);
        if (factory == nullptr) return E_OUTOFMEMORY;
        IUnknown* inner = factory->innerUnknown();
        inner->AddRef();
        const HRESULT hr = inner->QueryInterface(iid, object);
        inner->Release();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace com
