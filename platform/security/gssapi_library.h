#pragma once
// GSSAPI and Kerberos, loaded when the first credential is asked for rather
// than with the program. Most connections never authenticate, and the
// Kerberos libraries with their dependencies are more than half a megabyte
// of pages a process would otherwise carry from its start.

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <krb5/krb5.h>

#include <string>

namespace platform::security {

// Every call the token code makes, named without its library prefix.
#define TALTRIX_GSSAPI_CALLS(X)   \
    X(acquire_cred)               \
    X(acquire_cred_from)          \
    X(acquire_cred_with_password) \
    X(delete_sec_context)         \
    X(display_status)             \
    X(import_name)                \
    X(indicate_mechs)             \
    X(init_sec_context)           \
    X(release_buffer)             \
    X(release_cred)               \
    X(release_name)               \
    X(release_oid_set)            \
    X(set_neg_mechs)              \
    X(store_cred_into)
#define TALTRIX_KRB5_CALLS(X) \
    X(cc_destroy)             \
    X(cc_get_full_name)       \
    X(cc_new_unique)          \
    X(free_context)           \
    X(free_error_message)     \
    X(free_string)            \
    X(get_error_message)      \
    X(init_context)

struct GssapiLibrary {
#define TALTRIX_GSS_MEMBER(name) decltype(&::gss_##name) name = nullptr;
#define TALTRIX_KRB5_MEMBER(name) decltype(&::krb5_##name) name = nullptr;
    TALTRIX_GSSAPI_CALLS(TALTRIX_GSS_MEMBER)
    TALTRIX_KRB5_CALLS(TALTRIX_KRB5_MEMBER)
#undef TALTRIX_GSS_MEMBER
#undef TALTRIX_KRB5_MEMBER

    // Loads both libraries the first time (safe from any thread) and keeps
    // them for the life of the process. Null when either library or any of
    // its calls is missing; `problem` then says which.
    static const GssapiLibrary* get(std::string* problem = nullptr);
};

}  // namespace platform::security
