// Owners of OpenSSL objects, for the component, the reference host and
// certctl alike. One line per type says how it is freed. A UniquePtr passed
// by value moves ownership and a raw pointer is borrowed (OpenSSL's own get0
// and get1 say the same); release() is called only where ownership really
// leaves, such as after a set0 that succeeded. Raw outputs are adopted by a
// holder before their result is checked, so no path leaks.
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

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace ossl {

template <auto FreeFunction>
struct FreeWith {
  template <class T>
  void operator()(T* object) const noexcept {
    FreeFunction(object);
  }
};

template <class T>
struct Free;
template <>
struct Free<ASN1_STRING> : FreeWith<ASN1_STRING_free> {};  // ASN1_BIT_STRING, ASN1_ENUMERATED too
template <>
struct Free<BASIC_CONSTRAINTS> : FreeWith<BASIC_CONSTRAINTS_free> {};
template <>
struct Free<BIGNUM> : FreeWith<BN_free> {};
template <>
struct Free<BIO> : FreeWith<BIO_free_all> {};
template <>
struct Free<CRL_DIST_POINTS> : FreeWith<CRL_DIST_POINTS_free> {};
template <>
struct Free<EVP_MD> : FreeWith<EVP_MD_free> {};
template <>
struct Free<EVP_PKEY> : FreeWith<EVP_PKEY_free> {};
template <>
struct Free<EXTENDED_KEY_USAGE> : FreeWith<EXTENDED_KEY_USAGE_free> {};
template <>
struct Free<GENERAL_NAMES> : FreeWith<GENERAL_NAMES_free> {};
template <>
struct Free<OCSP_BASICRESP> : FreeWith<OCSP_BASICRESP_free> {};
template <>
struct Free<OCSP_CERTID> : FreeWith<OCSP_CERTID_free> {};
template <>
struct Free<OCSP_REQUEST> : FreeWith<OCSP_REQUEST_free> {};
template <>
struct Free<OCSP_RESPONSE> : FreeWith<OCSP_RESPONSE_free> {};
template <>
struct Free<OSSL_CMP_CTX> : FreeWith<OSSL_CMP_CTX_free> {};
template <>
struct Free<OSSL_CMP_ITAV> : FreeWith<OSSL_CMP_ITAV_free> {};
inline void FreeItavs(STACK_OF(OSSL_CMP_ITAV) * itavs) { sk_OSSL_CMP_ITAV_pop_free(itavs, OSSL_CMP_ITAV_free); }
template <>
struct Free<STACK_OF(OSSL_CMP_ITAV)> : FreeWith<FreeItavs> {};
template <>
struct Free<OSSL_LIB_CTX> : FreeWith<OSSL_LIB_CTX_free> {};
template <>
struct Free<OSSL_PROVIDER> : FreeWith<OSSL_PROVIDER_unload> {};
template <>
struct Free<PKCS12> : FreeWith<PKCS12_free> {};
template <>
struct Free<PKCS8_PRIV_KEY_INFO> : FreeWith<PKCS8_PRIV_KEY_INFO_free> {};
template <>
struct Free<SSL> : FreeWith<SSL_free> {};
template <>
struct Free<SSL_CTX> : FreeWith<SSL_CTX_free> {};
template <>
struct Free<X509> : FreeWith<X509_free> {};
template <>
struct Free<X509_CRL> : FreeWith<X509_CRL_free> {};
template <>
struct Free<X509_EXTENSION> : FreeWith<X509_EXTENSION_free> {};
template <>
struct Free<X509_NAME> : FreeWith<X509_NAME_free> {};
template <>
struct Free<X509_REQ> : FreeWith<X509_REQ_free> {};
// A store handed to OpenSSL with a set0 call is released after it succeeded.
template <>
struct Free<X509_STORE> : FreeWith<X509_STORE_free> {};
template <>
struct Free<X509_STORE_CTX> : FreeWith<X509_STORE_CTX_free> {};
inline void FreeCertificates(STACK_OF(X509) * certificates) { sk_X509_pop_free(certificates, X509_free); }
template <>
struct Free<STACK_OF(X509)> : FreeWith<FreeCertificates> {};
inline void FreeExtensions(STACK_OF(X509_EXTENSION) * extensions) {
  sk_X509_EXTENSION_pop_free(extensions, X509_EXTENSION_free);
}
template <>
struct Free<STACK_OF(X509_EXTENSION)> : FreeWith<FreeExtensions> {};
template <>
struct Free<STACK_OF(OPENSSL_STRING)> : FreeWith<X509_email_free> {};

template <class T>
using UniquePtr = std::unique_ptr<T, Free<T>>;

// Memory OpenSSL allocated for the caller (a text, an encoding, a URL's
// parts): freed with OPENSSL_free.
struct MemoryFree {
  void operator()(void* memory) const noexcept { OPENSSL_free(memory); }
};
template <class T>
using Memory = std::unique_ptr<T, MemoryFree>;

// Bytes an i2d function wrote into memory of OpenSSL's for a secret (a
// private key's DER): overwritten with zeros when freed, on every path.
class WipedBytes {
 public:
  WipedBytes() = default;
  WipedBytes(const WipedBytes&) = delete;
  WipedBytes& operator=(const WipedBytes&) = delete;
  ~WipedBytes() { OPENSSL_clear_free(m_data, m_size > 0 ? static_cast<std::size_t>(m_size) : 0); }
  // Where an i2d function writes: WipedBytes bytes; bytes.size(i2d(x, bytes.out()));
  unsigned char** out() noexcept { return &m_data; }
  void size(int size) noexcept { m_size = size; }
  int size() const noexcept { return m_size; }
  const unsigned char* data() const noexcept { return m_data; }

 private:
  unsigned char* m_data = nullptr;
  int m_size = 0;
};

// A stack holding a reference of its own to each of `certificates`, in
// order, as OpenSSL's verifications and containers take them; null when
// OpenSSL is out of memory (never a stack that lacks one of them).
inline UniquePtr<STACK_OF(X509)> CertificateStack(const std::vector<X509*>& certificates) {
  UniquePtr<STACK_OF(X509)> stack(sk_X509_new_null());
  for (X509* each : certificates)
    if (!stack || !X509_add_cert(stack.get(), each, X509_ADD_FLAG_UP_REF)) return nullptr;
  return stack;
}

// The certificates held, borrowed.
inline std::vector<X509*> Borrowed(const std::vector<UniquePtr<X509>>& certificates) {
  std::vector<X509*> borrowed;
  for (const UniquePtr<X509>& each : certificates) borrowed.push_back(each.get());
  return borrowed;
}

// The DER of `object` by `encode` (an i2d function); empty when it cannot
// be encoded.
template <class T, class Encode>
std::string DerOf(T* object, Encode encode) {
  unsigned char* bytes = nullptr;
  const int length = encode(object, &bytes);
  const Memory<unsigned char> owned(bytes);
  return length > 0 ? std::string(reinterpret_cast<char*>(bytes), static_cast<std::size_t>(length)) : "";
}

}  // namespace ossl
