#include "platform/security/gssapi_library.h"

#include <dlfcn.h>

namespace platform::security {
namespace {

constexpr const char* kGssapiFile = "libgssapi_krb5.so.2";
constexpr const char* kKrb5File = "libkrb5.so.3";

struct Loaded {
    GssapiLibrary calls;
    bool ok = false;
    std::string problem;

    Loaded() {
        void* gss = open(kGssapiFile);
        void* krb5 = gss != nullptr ? open(kKrb5File) : nullptr;
        if (krb5 == nullptr) return;
#define TALTRIX_GSS_BIND(name) \
    if (!bind(gss, "gss_" #name, calls.name)) return;
#define TALTRIX_KRB5_BIND(name) \
    if (!bind(krb5, "krb5_" #name, calls.name)) return;
        TALTRIX_GSSAPI_CALLS(TALTRIX_GSS_BIND)
        TALTRIX_KRB5_CALLS(TALTRIX_KRB5_BIND)
#undef TALTRIX_GSS_BIND
#undef TALTRIX_KRB5_BIND
        ok = true;
    }

    void* open(const char* file) {
        void* handle = dlopen(file, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) problem = std::string(file) + " could not be loaded: " + dlerror();
        return handle;
    }

    template <typename Function>
    bool bind(void* library, const char* symbol, Function& function) {
        function = reinterpret_cast<Function>(dlsym(library, symbol));
        if (function == nullptr) problem = std::string("the system's GSSAPI has no ") + symbol;
        return function != nullptr;
    }
};

}  // namespace

const GssapiLibrary* GssapiLibrary::get(std::string* problem) {
    static const Loaded loaded;
    if (!loaded.ok && problem != nullptr) *problem = loaded.problem;
    return loaded.ok ? &loaded.calls : nullptr;
}

}  // namespace platform::security
