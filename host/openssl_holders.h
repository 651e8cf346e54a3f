// OpenSSL objects owned by the reference host and its tools: freed on every
// path.
#pragma once

#include <openssl/bio.h>
#include <openssl/cmp.h>
#include <openssl/evp.h>
#include <openssl/ocsp.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>
#include <vector>

namespace host {

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
template <>
struct OpenSslFree<X509_NAME> : FreeWith<X509_NAME_free> {};
template <>
struct OpenSslFree<X509_REQ> : FreeWith<X509_REQ_free> {};
template <>
struct OpenSslFree<GENERAL_NAMES> : FreeWith<GENERAL_NAMES_free> {};
template <>
struct OpenSslFree<EXTENDED_KEY_USAGE> : FreeWith<EXTENDED_KEY_USAGE_free> {};
template <>
struct OpenSslFree<BASIC_CONSTRAINTS> : FreeWith<BASIC_CONSTRAINTS_free> {};
template <>
struct OpenSslFree<ASN1_STRING> : FreeWith<ASN1_STRING_free> {};  // ASN1_BIT_STRING too
template <>
struct OpenSslFree<PKCS8_PRIV_KEY_INFO> : FreeWith<PKCS8_PRIV_KEY_INFO_free> {};

template <>
struct OpenSslFree<OSSL_CMP_CTX> : FreeWith<OSSL_CMP_CTX_free> {};
template <>
struct OpenSslFree<X509_CRL> : FreeWith<X509_CRL_free> {};
template <>
struct OpenSslFree<CRL_DIST_POINTS> : FreeWith<CRL_DIST_POINTS_free> {};
template <>
struct OpenSslFree<X509_STORE> : FreeWith<X509_STORE_free> {};
template <>
struct OpenSslFree<X509_STORE_CTX> : FreeWith<X509_STORE_CTX_free> {};
template <>
struct OpenSslFree<OCSP_REQUEST> : FreeWith<OCSP_REQUEST_free> {};
template <>
struct OpenSslFree<OCSP_RESPONSE> : FreeWith<OCSP_RESPONSE_free> {};
template <>
struct OpenSslFree<OCSP_BASICRESP> : FreeWith<OCSP_BASICRESP_free> {};
template <>
struct OpenSslFree<OCSP_CERTID> : FreeWith<OCSP_CERTID_free> {};
inline void FreeCertificates(STACK_OF(X509) * certificates) { sk_X509_pop_free(certificates, X509_free); }
template <>
struct OpenSslFree<STACK_OF(X509)> : FreeWith<FreeCertificates> {};
template <>
struct OpenSslFree<STACK_OF(OPENSSL_STRING)> : FreeWith<X509_email_free> {};

// A pointer passed as UniquePtr moves ownership; a raw pointer is borrowed.
template <class T>
using UniquePtr = std::unique_ptr<T, OpenSslFree<T>>;

// A stack holding a reference of its own to each of `certificates`, in
// order, as OpenSSL's verifications and containers take them; null when
// OpenSSL is out of memory (never a stack that lacks one of them).
inline UniquePtr<STACK_OF(X509)> CertificateStack(const std::vector<X509*>& certificates) {
  UniquePtr<STACK_OF(X509)> stack(sk_X509_new_null());
  for (X509* each : certificates)
    if (!stack || !X509_add_cert(stack.get(), each, X509_ADD_FLAG_UP_REF)) return nullptr;
  return stack;
}
inline UniquePtr<STACK_OF(X509)> CertificateStack(const std::vector<UniquePtr<X509>>& certificates) {
  std::vector<X509*> borrowed;
  for (const UniquePtr<X509>& each : certificates) borrowed.push_back(each.get());
  return CertificateStack(borrowed);
}

// Memory OpenSSL allocated for the caller (a text, an encoding, a URL's
// parts): freed with OPENSSL_free.
struct OpenSslMemoryFree {
  void operator()(void* memory) const noexcept { OPENSSL_free(memory); }
};
template <class T>
using OpenSslMemory = std::unique_ptr<T, OpenSslMemoryFree>;

// The DER of `object` by `encode` (an i2d_ function); empty when it cannot
// be encoded.
template <class T, class Encode>
std::string DerOf(T* object, Encode encode) {
  unsigned char* bytes = nullptr;
  const int length = encode(object, &bytes);
  const OpenSslMemory<unsigned char> owned(bytes);
  return length > 0 ? std::string(reinterpret_cast<char*>(bytes), static_cast<std::size_t>(length)) : "";
}

}  // namespace host
