// Test doubles for a host's own tests, installed with the reference host
// (CMake target CertificatesManager::testing, pkg-config
// certificates_manager_testing) and used by the project's own tests: a CA
// made in-process with the OpenSSL API (this header), a CA seam that answers
// with it (in_process_ca.h) and a lifecycle store whose steps fail on demand
// (faulty_lifecycle_store.h). None touches the network; none is meant for
// production use.
#pragma once

#include <cstdint>
#include <string>

#include "ossl/holders.h"

namespace host::testing {

// The usages of a certificate, in openssl's words ("critical,digitalSignature",
// "clientAuth"); null: a client certificate's (a CA's for a CA).
struct Usages {
  const char* keyUsage = nullptr;
  const char* extendedKeyUsage = nullptr;
  bool basicConstraints = true;  // false: none, as a version 3 leaf may have
};

// A self-signed CA certificate and key, and certificates it signs for any
// key. Its methods may be called from any thread; serials are unique
// within the process.
class TestCa {
 public:
  explicit TestCa(const std::string& name);
  // The same CA (name and key) as a certificate `issuer` signed: a
  // cross-signed version of it.
  ossl::UniquePtr<X509> CrossSignedBy(const TestCa& issuer) const;
  X509* certificate() const { return m_certificate.get(); }
  EVP_PKEY* key() const { return m_key.get(); }
  std::string Pem() const;
  // A certificate for `key`'s public half, issued by this CA to CN=`name`
  // for `days` from `from` (seconds since 1970), for TLS client use; a CA
  // certificate when `ca`. PEM.
  std::string Issue(EVP_PKEY* key, const std::string& name, std::int64_t from, int days, bool ca = false) const;
  ossl::UniquePtr<X509> IssueCertificate(EVP_PKEY* key, const std::string& name, std::int64_t from, int days,
                                         bool ca = false, Usages usages = {}) const;

 private:
  ossl::UniquePtr<EVP_PKEY> m_key;
  ossl::UniquePtr<X509> m_certificate;
};

// A new P-256 key.
ossl::UniquePtr<EVP_PKEY> NewTestKey();

}  // namespace host::testing
