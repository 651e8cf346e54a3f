// Owners of OpenSSL objects, for the component, the reference host and
// certctl alike. One line per type says it is owned; ossl/holders.cpp says
// how each is freed, so that a header holding one needs only OpenSSL's
// type names (<openssl/types.h>), never the headers that declare its
// functions. A UniquePtr passed by value moves ownership and a raw pointer
// is borrowed (OpenSSL's own get0 and get1 say the same); release() is
// called only where ownership really leaves, such as after a set0 that
// succeeded. Raw outputs are adopted by a holder before their result is
// checked, so no path leaks.
#pragma once

#include <openssl/safestack.h>
#include <openssl/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// The types held that <openssl/types.h> does not name, by the names of
// their structures in OpenSSL's headers (the typedef each stands for is
// said where it is owned below).
struct BASIC_CONSTRAINTS_st;
struct PKCS12_st;
struct X509_extension_st;
struct X509_req_st;
struct ocsp_basic_response_st;
struct ocsp_cert_id_st;
struct ocsp_request_st;
struct ossl_cmp_ctx_st;
struct ossl_cmp_itav_st;
struct stack_st_ASN1_OBJECT;
struct stack_st_DIST_POINT;
struct stack_st_GENERAL_NAME;
struct stack_st_OSSL_CMP_ITAV;
struct stack_st_X509;
struct stack_st_X509_EXTENSION;

namespace ossl {

template <class T>
struct Free;

#define OSSL_OWNED(T)                          \
  template <>                                  \
  struct Free<T> {                             \
    void operator()(T* object) const noexcept; \
  }
OSSL_OWNED(ASN1_STRING);  // ASN1_BIT_STRING, ASN1_ENUMERATED too
OSSL_OWNED(BASIC_CONSTRAINTS_st);
OSSL_OWNED(BIGNUM);
OSSL_OWNED(BIO);                  // and the BIOs chained after it
OSSL_OWNED(stack_st_DIST_POINT);  // CRL_DIST_POINTS
OSSL_OWNED(EVP_MD);
OSSL_OWNED(EVP_PKEY);
OSSL_OWNED(stack_st_ASN1_OBJECT);    // EXTENDED_KEY_USAGE
OSSL_OWNED(stack_st_GENERAL_NAME);   // GENERAL_NAMES
OSSL_OWNED(ocsp_basic_response_st);  // OCSP_BASICRESP
OSSL_OWNED(ocsp_cert_id_st);         // OCSP_CERTID
OSSL_OWNED(ocsp_request_st);         // OCSP_REQUEST
OSSL_OWNED(OCSP_RESPONSE);
OSSL_OWNED(ossl_cmp_ctx_st);   // OSSL_CMP_CTX
OSSL_OWNED(ossl_cmp_itav_st);  // OSSL_CMP_ITAV
OSSL_OWNED(OSSL_LIB_CTX);
OSSL_OWNED(OSSL_PROVIDER);  // unloaded
OSSL_OWNED(PKCS12_st);      // PKCS12
OSSL_OWNED(PKCS8_PRIV_KEY_INFO);
OSSL_OWNED(SSL);      // libssl's: freed by ossl/tls_holders.cpp
OSSL_OWNED(SSL_CTX);  // libssl's too
OSSL_OWNED(X509);
OSSL_OWNED(X509_CRL);
OSSL_OWNED(X509_extension_st);  // X509_EXTENSION
OSSL_OWNED(X509_NAME);
OSSL_OWNED(X509_req_st);  // X509_REQ
OSSL_OWNED(X509_STORE);   // a store handed to OpenSSL with a set0 call is released after it succeeded
OSSL_OWNED(X509_STORE_CTX);
OSSL_OWNED(stack_st_OSSL_CMP_ITAV);   // and each item
OSSL_OWNED(stack_st_X509);            // and each certificate
OSSL_OWNED(stack_st_X509_EXTENSION);  // and each extension
OSSL_OWNED(stack_st_OPENSSL_STRING);  // and each string (X509_get1_ocsp's, X509_get1_email's)
#undef OSSL_OWNED

template <class T>
using UniquePtr = std::unique_ptr<T, Free<T>>;

// Memory OpenSSL allocated for the caller (a text, an encoding, a URL's
// parts): freed with OPENSSL_free.
struct MemoryFree {
  void operator()(void* memory) const noexcept;
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
  ~WipedBytes();
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
UniquePtr<STACK_OF(X509)> CertificateStack(const std::vector<X509*>& certificates);

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
