// OpenSSL objects owned by certctl: freed on every path.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>

namespace certctl {

// How each type is freed: one line per type.
template <auto Free>
struct FreeWith {
  template <class T>
  void operator()(T* object) const noexcept {
    Free(object);
  }
};
template <class T>
struct OpenSslFree;
template <>
struct OpenSslFree<X509> : FreeWith<X509_free> {};
template <>
struct OpenSslFree<EVP_PKEY> : FreeWith<EVP_PKEY_free> {};
template <>
struct OpenSslFree<BIO> : FreeWith<BIO_free_all> {};
template <>
struct OpenSslFree<PKCS12> : FreeWith<PKCS12_free> {};
template <>
struct OpenSslFree<OSSL_PROVIDER> : FreeWith<OSSL_PROVIDER_unload> {};
template <>
struct OpenSslFree<SSL_CTX> : FreeWith<SSL_CTX_free> {};
template <>
struct OpenSslFree<SSL> : FreeWith<SSL_free> {};
template <>
struct OpenSslFree<BIGNUM> : FreeWith<BN_free> {};

// A pointer passed as UniquePtr moves ownership; a raw pointer is borrowed.
template <class T>
using UniquePtr = std::unique_ptr<T, OpenSslFree<T>>;

}  // namespace certctl
