// One owning holder type per OpenSSL object the component creates. A holder
// frees its object on every path; release() is called only where ownership
// really leaves.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>

#include <memory>

namespace ivo::openssl {

template <class T>
struct Deleter;

// One line per type; certctl adds the types it uses beside these with the
// same macro.
#define CM_OPENSSL_DELETER(Type, Free)                   \
  template <>                                            \
  struct Deleter<Type> {                                 \
    void operator()(Type* p) const noexcept { Free(p); } \
  }

CM_OPENSSL_DELETER(BIO, BIO_free_all);
CM_OPENSSL_DELETER(X509, X509_free);
CM_OPENSSL_DELETER(PKCS12, PKCS12_free);
CM_OPENSSL_DELETER(EVP_PKEY, EVP_PKEY_free);
CM_OPENSSL_DELETER(EVP_MD, EVP_MD_free);
CM_OPENSSL_DELETER(OSSL_LIB_CTX, OSSL_LIB_CTX_free);
CM_OPENSSL_DELETER(OSSL_PROVIDER, OSSL_PROVIDER_unload);
CM_OPENSSL_DELETER(X509_EXTENSION, X509_EXTENSION_free);

template <class T>
using UniquePtr = std::unique_ptr<T, Deleter<T>>;

}  // namespace ivo::openssl
