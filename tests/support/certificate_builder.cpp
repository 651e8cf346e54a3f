#include "tests/support/certificate_builder.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "certificates_manager/cert_parser/library_context.h"
#include "ossl/holders.h"

namespace test {
namespace {

using ossl::UniquePtr;

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("certificate builder: ") + what);
}

// One key per type for the whole test process: generation is slow.
EVP_PKEY* KeyOf(KeyType type) {
  static UniquePtr<EVP_PKEY> keys[4];
  UniquePtr<EVP_PKEY>& key = keys[static_cast<int>(type)];
  if (!key) {
    switch (type) {
      case KeyType::EcP256:
      case KeyType::EcP256Other:
        key.reset(EVP_EC_gen("P-256"));
        break;
      case KeyType::Rsa2048:
        key.reset(EVP_RSA_gen(2048));
        break;
      case KeyType::Rsa1024:
        key.reset(EVP_RSA_gen(1024));
        break;
    }
  }
  Check(key != nullptr, "key generation");
  return key.get();
}

void AddExtensions(X509* certificate, const CertificateParams& params) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
  for (const auto& [name, value] : params.extensions) {
    // By name or, for one OpenSSL does not know, by OID with a DER value.
    UniquePtr<X509_EXTENSION> extension(X509V3_EXT_nconf(nullptr, &context, name.c_str(), value.c_str()));
    Check(extension && X509_add_ext(certificate, extension.get(), -1) == 1, "extension");
  }
}

void FillName(X509_NAME* name, const Name& fields) {
  for (const auto& [field, value] : fields)
    Check(X509_NAME_add_entry_by_txt(name, field.c_str(), MBSTRING_UTF8,
                                     reinterpret_cast<const unsigned char*>(value.data()),
                                     static_cast<int>(value.size()), -1, 0) == 1,
          "name entry");
}

void SetTime(ASN1_TIME* time, const std::string& text) {
  Check(ASN1_TIME_set_string_X509(time, text.c_str()) == 1, "time");
}

UniquePtr<X509> Build(const CertificateParams& params) {
  UniquePtr<X509> certificate(X509_new());
  Check(certificate != nullptr, "X509_new");
  X509_set_version(certificate.get(), 2);
  std::unique_ptr<BIGNUM, decltype(&BN_free)> serial(
      BN_bin2bn(params.serial.data(), static_cast<int>(params.serial.size()), nullptr), BN_free);
  Check(serial != nullptr, "serial");
  Check(BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate.get())) != nullptr, "serial");
  FillName(X509_get_subject_name(certificate.get()), params.subject);
  FillName(X509_get_issuer_name(certificate.get()), params.issuer.value_or(params.subject));
  SetTime(X509_getm_notBefore(certificate.get()), params.notBefore);
  SetTime(X509_getm_notAfter(certificate.get()), params.notAfter);
  EVP_PKEY* key = KeyOf(params.key);
  Check(X509_set_pubkey(certificate.get(), key) == 1, "public key");
  AddExtensions(certificate.get(), params);
  Check(X509_sign(certificate.get(), KeyOf(params.signer.value_or(params.key)),
                  EVP_get_digestbyname(params.digest.c_str())) > 0,
        "signature");
  return certificate;
}

ozo::blob_t BioContents(BIO* bio) {
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  return ozo::blob_t(data, static_cast<std::size_t>(length));
}

}  // namespace

ozo::blob_t MakeDer(const CertificateParams& params) {
  UniquePtr<X509> certificate = Build(params);
  unsigned char* der = nullptr;
  const int length = i2d_X509(certificate.get(), &der);
  Check(length > 0, "i2d_X509");
  ozo::blob_t blob(der, static_cast<std::size_t>(length));
  OPENSSL_free(der);
  return blob;
}

ozo::blob_t MakePem(const CertificateParams& params) {
  UniquePtr<X509> certificate = Build(params);
  UniquePtr<BIO> bio(BIO_new(BIO_s_mem()));
  Check(bio && PEM_write_bio_X509(bio.get(), certificate.get()) == 1, "PEM_write_bio_X509");
  return BioContents(bio.get());
}

ozo::blob_t MakeKeyPem(KeyType key) {
  UniquePtr<BIO> bio(BIO_new(BIO_s_mem()));
  Check(bio && PEM_write_bio_PrivateKey(bio.get(), KeyOf(key), nullptr, nullptr, 0, nullptr, nullptr) == 1,
        "PEM_write_bio_PrivateKey");
  return BioContents(bio.get());
}

ozo::blob_t MakePkcs12(const Pkcs12Params& params) {
  // A context of the builder's own, so legacy containers can be made without
  // touching the process's default context or the component's.
  static const ivo::openssl::LibraryContext context;
  UniquePtr<X509> certificate = params.withCertificate ? Build(params.certificate) : nullptr;
  std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> cas(
      sk_X509_new_null(), [](STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); });
  for (int i = 0; i < params.caCertificates; ++i) {
    CertificateParams ca;
    ca.subject = {{"CN", "Test CA " + std::to_string(i)}};
    ca.serial = {static_cast<unsigned char>(0x40 + i)};
    Check(sk_X509_push(cas.get(), Build(ca).release()) > 0, "CA stack");
  }
  const bool legacy = params.encryption == Pkcs12Encryption::Legacy;
  const int keyNid = legacy ? NID_pbe_WithSHA1And3_Key_TripleDES_CBC : NID_aes_256_cbc;
  const int certNid = legacy ? NID_pbe_WithSHA1And40BitRC2_CBC : NID_aes_256_cbc;
  UniquePtr<PKCS12> container;
  if (!params.containerKey || *params.containerKey == params.certificate.key) {
    container.reset(PKCS12_create_ex(params.password.c_str(), "test", KeyOf(params.certificate.key), certificate.get(),
                                     cas.get(), keyNid, certNid, params.iterations, -1, 0, context.get(), nullptr));
  } else {  // PKCS12_create refuses a key that is not the certificate's: the bags are put together by hand
    std::unique_ptr<STACK_OF(PKCS12_SAFEBAG), void (*)(STACK_OF(PKCS12_SAFEBAG)*)> bags(
        nullptr, [](STACK_OF(PKCS12_SAFEBAG) * b) { sk_PKCS12_SAFEBAG_pop_free(b, PKCS12_SAFEBAG_free); });
    std::unique_ptr<STACK_OF(PKCS7), void (*)(STACK_OF(PKCS7)*)> safes(
        nullptr, [](STACK_OF(PKCS7) * p) { sk_PKCS7_pop_free(p, PKCS7_free); });
    STACK_OF(PKCS12_SAFEBAG)* bagList = nullptr;
    STACK_OF(PKCS7)* safeList = nullptr;
    Check(PKCS12_add_cert(&bagList, certificate.get()) != nullptr, "PKCS12_add_cert");
    bags.reset(bagList);
    Check(PKCS12_add_safe_ex(&safeList, bags.get(), certNid, params.iterations, params.password.c_str(), context.get(),
                             nullptr) == 1,
          "PKCS12_add_safe_ex");
    safes.reset(safeList);
    STACK_OF(PKCS12_SAFEBAG)* keyBags = nullptr;
    Check(PKCS12_add_key_ex(&keyBags, KeyOf(*params.containerKey), 0, params.iterations, keyNid,
                            params.password.c_str(), context.get(), nullptr) != nullptr,
          "PKCS12_add_key_ex");
    bags.reset(keyBags);
    Check(PKCS12_add_safe_ex(&safeList, bags.get(), -1, params.iterations, params.password.c_str(), context.get(),
                             nullptr) == 1,
          "PKCS12_add_safe_ex");
    container.reset(PKCS12_add_safes_ex(safes.get(), 0, context.get(), nullptr));
  }
  Check(container != nullptr, "PKCS12_create_ex");
  {
    ivo::openssl::ScopedDefaultContext scope(context);
    Check(PKCS12_set_mac(container.get(), params.password.c_str(), -1, nullptr, 0, params.iterations,
                         legacy ? EVP_sha1() : EVP_sha256()) == 1,
          "PKCS12_set_mac");
  }
  UniquePtr<BIO> bio(BIO_new(BIO_s_mem()));
  Check(bio && i2d_PKCS12_bio(bio.get(), container.get()) == 1, "i2d_PKCS12_bio");
  return BioContents(bio.get());
}

std::string GeneralizedTime(std::int64_t posixSeconds) {
  const std::time_t seconds = static_cast<std::time_t>(posixSeconds);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof(text), "%Y%m%d%H%M%SZ", &utc);
  return text;
}

ozo::blob_t BlobOf(const std::string& bytes) { return ozo::blob_t(bytes.data(), bytes.size()); }

std::string StringOf(const ozo::blob_t& blob) {
  return std::string(reinterpret_cast<const char*>(blob.data()), blob.size());
}

ozo::blob_t ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  Check(file.good(), ("cannot read " + path).c_str());
  return BlobOf(std::string(std::istreambuf_iterator<char>(file), {}));
}

std::string VectorsDir() {
  const char* chosen = std::getenv("CM_VECTORS_DIR");
  return chosen && *chosen ? chosen : CM_VECTORS_DIR;
}
std::string VectorPath(const std::string& name) { return VectorsDir() + "/" + name; }

}  // namespace test
