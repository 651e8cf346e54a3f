#include "ossl/holders.h"

#include <openssl/bio.h>
#include <openssl/cmp.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/ocsp.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace ossl {
namespace {

void FreeItavs(STACK_OF(OSSL_CMP_ITAV) * itavs) { sk_OSSL_CMP_ITAV_pop_free(itavs, OSSL_CMP_ITAV_free); }
void FreeCertificates(STACK_OF(X509) * certificates) { sk_X509_pop_free(certificates, X509_free); }
void FreeExtensions(STACK_OF(X509_EXTENSION) * extensions) {
  sk_X509_EXTENSION_pop_free(extensions, X509_EXTENSION_free);
}

}  // namespace

#define OSSL_FREED_BY(T, function) \
  void Free<T>::operator()(T* object) const noexcept { function(object); }
OSSL_FREED_BY(ASN1_STRING, ASN1_STRING_free)
OSSL_FREED_BY(BASIC_CONSTRAINTS_st, BASIC_CONSTRAINTS_free)
OSSL_FREED_BY(BIGNUM, BN_free)
OSSL_FREED_BY(BIO, BIO_free_all)
OSSL_FREED_BY(stack_st_DIST_POINT, CRL_DIST_POINTS_free)
OSSL_FREED_BY(EVP_MD, EVP_MD_free)
OSSL_FREED_BY(EVP_PKEY, EVP_PKEY_free)
OSSL_FREED_BY(stack_st_ASN1_OBJECT, EXTENDED_KEY_USAGE_free)
OSSL_FREED_BY(stack_st_GENERAL_NAME, GENERAL_NAMES_free)
OSSL_FREED_BY(ocsp_basic_response_st, OCSP_BASICRESP_free)
OSSL_FREED_BY(ocsp_cert_id_st, OCSP_CERTID_free)
OSSL_FREED_BY(ocsp_request_st, OCSP_REQUEST_free)
OSSL_FREED_BY(OCSP_RESPONSE, OCSP_RESPONSE_free)
OSSL_FREED_BY(ossl_cmp_ctx_st, OSSL_CMP_CTX_free)
OSSL_FREED_BY(ossl_cmp_itav_st, OSSL_CMP_ITAV_free)
OSSL_FREED_BY(OSSL_LIB_CTX, OSSL_LIB_CTX_free)
OSSL_FREED_BY(OSSL_PROVIDER, OSSL_PROVIDER_unload)
OSSL_FREED_BY(PKCS12_st, PKCS12_free)
OSSL_FREED_BY(PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free)
OSSL_FREED_BY(X509, X509_free)
OSSL_FREED_BY(X509_CRL, X509_CRL_free)
OSSL_FREED_BY(X509_extension_st, X509_EXTENSION_free)
OSSL_FREED_BY(X509_NAME, X509_NAME_free)
OSSL_FREED_BY(X509_req_st, X509_REQ_free)
OSSL_FREED_BY(X509_STORE, X509_STORE_free)
OSSL_FREED_BY(X509_STORE_CTX, X509_STORE_CTX_free)
OSSL_FREED_BY(stack_st_OSSL_CMP_ITAV, FreeItavs)
OSSL_FREED_BY(stack_st_X509, FreeCertificates)
OSSL_FREED_BY(stack_st_X509_EXTENSION, FreeExtensions)
OSSL_FREED_BY(stack_st_OPENSSL_STRING, X509_email_free)
#undef OSSL_FREED_BY

void MemoryFree::operator()(void* memory) const noexcept { OPENSSL_free(memory); }

WipedBytes::~WipedBytes() { OPENSSL_clear_free(m_data, m_size > 0 ? static_cast<std::size_t>(m_size) : 0); }

UniquePtr<STACK_OF(X509)> CertificateStack(const std::vector<X509*>& certificates) {
  UniquePtr<STACK_OF(X509)> stack(sk_X509_new_null());
  for (X509* each : certificates)
    if (!stack || !X509_add_cert(stack.get(), each, X509_ADD_FLAG_UP_REF)) return nullptr;
  return stack;
}

}  // namespace ossl
