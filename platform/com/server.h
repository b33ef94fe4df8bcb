// What a server library (a component shared library) builds its four
// exported entry points from. Link the static library platform_com_server
// into the server: its state (the module lock count) is hidden and so kept
// per library, while everything else comes from the shared runtime.
//
//   COM_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
//     return com::getClassObject(kClasses, clsid, iid, out);
//   }
//   COM_EXPORT HRESULT DllCanUnloadNow() { return com::ServerModule::instance().canUnloadNow(); }
//   COM_EXPORT HRESULT DllRegisterServer() { ... com::registerClass(...) }
//   COM_EXPORT HRESULT DllUnregisterServer() { ... com::unregisterClass(...) }
#pragma once

#include <span>
#include <string>

#include "platform/com/class_factory.h"
#include "platform/com/object.h"

#define COM_EXPORT extern "C" __attribute__((visibility("default")))

namespace com {

class ServerModule {
public:
    // This library's module (each server library has its own).
    static ServerModule& instance();

    // Live objects and explicit server locks keep the library loaded.
    void lock() { ++locks_; }
    void unlock() { --locks_; }
    LONG lockCount() const { return locks_; }
    // S_OK when nothing holds the library, else S_FALSE.
    HRESULT canUnloadNow() const { return locks_ == 0 ? S_OK : S_FALSE; }
    // The file this library was loaded from, for registration.
    std::string path() const;

private:
    ServerModule() = default;
    std::atomic<LONG> locks_{0};
};

// A member of every object a server hands out, so the library stays loaded
// while any of them lives.
class ModuleReference {
public:
    ModuleReference() { ServerModule::instance().lock(); }
    ModuleReference(const ModuleReference&) : ModuleReference() {}
    ModuleReference& operator=(const ModuleReference&) = default;
    ~ModuleReference() { ServerModule::instance().unlock(); }
};

using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID iid, void** object);

struct ClassEntry {
    CLSID clsid;
    // Typically &com::createObject<MyClass>.
    CreateFunction create;
};

// DllGetClassObject's work: a class factory for one of `classes`, else
// CLASS_E_CLASSNOTAVAILABLE.
HRESULT getClassObject(std::span<const ClassEntry> classes, REFCLSID clsid, REFIID iid, void** object);

}  // namespace com
