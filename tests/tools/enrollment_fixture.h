// An enrollment's scene for certctl's tests: an Issuing CA made with the
// openssl tool, and what the edr slot holds read back from the store (its
// pending key, its stored pair).
#pragma once

#include <openssl/core_names.h>
#include <openssl/pkcs12.h>

#include <string>
#include <vector>

#include "host/service_host.h"
#include "ossl/holders.h"
#include "ossl/text.h"
#include "tests/tools/certctl_fixture.h"

namespace test {

inline constexpr ivo::PeerType kEdr = *ivo::PeerType::From(1);

class Enrollment : public CertctlTest {
 protected:
  Enrollment() {
    Openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-subj",
             "/CN=Issuing CA", "-days", "30", "-keyout", Path("issuing.key"), "-out", Path("issuing.pem")});
  }

  void Openssl(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), "openssl");
    const ProcessResult run = RunProcess(arguments, m_dir.path());
    ASSERT_EQ(run.exit, 0) << run.err;
  }

  // The CA's certificate for the request `csr`, written to `crt`.
  void Sign(const std::string& csr, const std::string& crt) const {
    Openssl({"x509", "-req", "-in", Path(csr), "-CA", Path("issuing.pem"), "-CAkey", Path("issuing.key"),
             "-copy_extensions", "copy", "-days", "30", "-out", Path(crt)});
  }

  ozo::ref_ptr<host::SqliteStore> OpenStore() const {
    ozo::ref_ptr<host::SqliteStore> store;
    std::string error;
    EXPECT_EQ(host::SqliteStore::Open(m_store, host::SqliteStore::Mode::ReadOnly, store, error), 0) << error;
    return store;
  }

  // The pending key's private value (big-endian, as DER and PEM carry it),
  // empty when none is pending.
  std::string PendingSecret() const {
    host::lifecycle::PendingKey pending;
    if (OpenStore()->pendingKeys().Get(kEdr, pending) != 0) return "";
    const unsigned char* at = pending.key.data();
    const ossl::UniquePtr<EVP_PKEY> key(d2i_AutoPrivateKey(nullptr, &at, static_cast<long>(pending.key.size())));
    BIGNUM* value = nullptr;
    EXPECT_TRUE(key && EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_PRIV_KEY, &value));
    // At the key's full width, as its encodings hold it: one key in 256
    // has a leading zero byte.
    const int width = key ? (EVP_PKEY_get_bits(key.get()) + 7) / 8 : 0;
    std::string bytes(static_cast<std::size_t>(width), '\0');
    if (value) BN_bn2binpad(value, reinterpret_cast<unsigned char*>(bytes.data()), width);
    BN_clear_free(value);
    return bytes;
  }

  // The slot's stored pair: the subject's serial number when its container
  // opens with the stored password to a key that matches its certificate,
  // else why not.
  std::string StoredPair() const {
    host::HostOptions options;
    options.store = OpenStore();
    host::ServiceHost host(std::move(options));
    ivo::ClientCertificate record;
    if (host.ReadRecord(kEdr, record) != 0) return "nothing stored";
    const unsigned char* at = record.certificate.data();
    const ossl::UniquePtr<PKCS12> container(d2i_PKCS12(nullptr, &at, static_cast<long>(record.certificate.size())));
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
    if (!container || !PKCS12_parse(container.get(), record.password.c_str(), &key, &certificate, nullptr))
      return "the container does not open with its password";
    const ossl::UniquePtr<EVP_PKEY> ownedKey(key);
    const ossl::UniquePtr<X509> ownedCertificate(certificate);
    if (X509_check_private_key(certificate, key) != 1) return "the key does not match the certificate";
    return ossl::SerialHex(certificate);
  }

  static std::string SerialOf(const std::string& pemFile) {
    const std::vector<ossl::UniquePtr<X509>> read = ossl::ReadCertificates(ReadWholeFile(pemFile));
    return read.empty() ? "no certificate in " + pemFile : ossl::SerialHex(read.front().get());
  }
};

}  // namespace test
