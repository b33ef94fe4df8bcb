// Owning handles for the OpenSSL objects this folder keeps, so that every
// early return frees what it made.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>

namespace platform::security {

template <auto Free>
struct OpenSslFree {
    template <typename T>
    void operator()(T* handle) const {
        Free(handle);
    }
};

using SslCtxPtr = std::unique_ptr<SSL_CTX, OpenSslFree<SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, OpenSslFree<SSL_free>>;
using X509Ptr = std::unique_ptr<X509, OpenSslFree<X509_free>>;
using X509CrlPtr = std::unique_ptr<X509_CRL, OpenSslFree<X509_CRL_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, OpenSslFree<X509_STORE_free>>;
using X509StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, OpenSslFree<X509_STORE_CTX_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslFree<EVP_PKEY_free>>;
using BioPtr = std::unique_ptr<BIO, OpenSslFree<BIO_free_all>>;
using SslSessionPtr = std::unique_ptr<SSL_SESSION, OpenSslFree<SSL_SESSION_free>>;

inline void freeX509Stack(STACK_OF(X509) * stack) { sk_X509_pop_free(stack, X509_free); }
using X509StackPtr = std::unique_ptr<STACK_OF(X509), OpenSslFree<freeX509Stack>>;

}  // namespace platform::security
