#include "host/testing/test_ca.h"

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <ctime>

#include "ossl/text.h"

namespace host::testing {

using ossl::UniquePtr;

namespace {

void AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  const UniquePtr<X509_EXTENSION> extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  if (extension) X509_add_ext(certificate, extension.get(), -1);
}

// A certificate for `key` named `name`, signed by `signer` (its own when
// `issuer` is null).
UniquePtr<X509> Certificate(EVP_PKEY* key, const std::string& name, X509* issuer, EVP_PKEY* signer, std::int64_t from,
                            int days, bool ca, Usages usages = {}) {
  static std::atomic<long> serial{100};
  UniquePtr<X509> certificate(X509_new());
  X509* made = certificate.get();
  X509_set_version(made, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(made), serial++);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(made), "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
  X509_set_issuer_name(made, issuer ? X509_get_subject_name(issuer) : X509_get_subject_name(made));
  ASN1_TIME_set(X509_getm_notBefore(made), static_cast<time_t>(from));
  ASN1_TIME_set(X509_getm_notAfter(made), static_cast<time_t>(from + days * 86400LL));
  X509_set_pubkey(made, key);
  if (usages.basicConstraints)
    AddExtension(made, issuer ? issuer : made, NID_basic_constraints, ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
  AddExtension(made, issuer ? issuer : made, NID_key_usage,
               usages.keyUsage ? usages.keyUsage
               : ca            ? "critical,keyCertSign,cRLSign,digitalSignature"
                               : "critical,digitalSignature");
  if (usages.extendedKeyUsage || !ca)
    AddExtension(made, issuer ? issuer : made, NID_ext_key_usage,
                 usages.extendedKeyUsage ? usages.extendedKeyUsage : "clientAuth");
  X509_sign(made, signer, EVP_sha256());
  return certificate;
}

}  // namespace

UniquePtr<EVP_PKEY> NewTestKey() { return UniquePtr<EVP_PKEY>(EVP_EC_gen("P-256")); }

TestCa::TestCa(const std::string& name) : m_key(NewTestKey()) {
  m_certificate = Certificate(m_key.get(), name, nullptr, m_key.get(), 1500000000, 36500, true);
}

std::string TestCa::Pem() const { return ossl::PemOf({m_certificate.get()}); }

std::string TestCa::Issue(EVP_PKEY* key, const std::string& name, std::int64_t from, int days, bool ca) const {
  return ossl::PemOf({IssueCertificate(key, name, from, days, ca).get()});
}

UniquePtr<X509> TestCa::IssueCertificate(EVP_PKEY* key, const std::string& name, std::int64_t from, int days, bool ca,
                                         Usages usages) const {
  return Certificate(key, name, m_certificate.get(), m_key.get(), from, days, ca, usages);
}

UniquePtr<X509> TestCa::CrossSignedBy(const TestCa& issuer) const {
  const std::string name = ossl::NameText(X509_get_subject_name(m_certificate.get())).substr(3);  // after "CN="
  return Certificate(m_key.get(), name, issuer.m_certificate.get(), issuer.m_key.get(), std::time(nullptr) - 86400, 365,
                     true);
}

}  // namespace host::testing
