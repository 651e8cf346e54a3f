// Certificates and PKCS#12 containers made inside the tests with the OpenSSL
// API, at any date, so that no test depends on files that age.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ozo/types/blob.h"

namespace test {

using Name = std::vector<std::pair<std::string, std::string>>;  // (field, value) in order

// EcP256Other is a second P-256 key, for a container whose key does not
// match its certificate.
enum class KeyType { EcP256, EcP256Other, Rsa2048, Rsa1024 };

struct CertificateParams {
  Name subject = {{"CN", "Test Server"}, {"O", "Test Org"}};
  std::optional<Name> issuer;                  // the subject when absent (self-issued)
  std::vector<unsigned char> serial = {0x01};  // big-endian magnitude
  // GeneralizedTime text "YYYYMMDDHHMMSSZ"; years 1950 to 2049 are written as
  // UTCTime, as DER requires.
  std::string notBefore = "20200101000000Z";
  std::string notAfter = "21000101000000Z";
  KeyType key = KeyType::EcP256;
  std::optional<KeyType> signer;  // the issuer's key; the certificate's own when absent
  std::string digest = "SHA256";  // of the signature
  // X.509v3 extensions in openssl's configuration syntax, in order:
  // {"subjectAltName", "DNS:a.test,IP:127.0.0.1"}, {"keyUsage", "digitalSignature"},
  // {"1.2.3.4", "critical,DER:0500"}.
  std::vector<std::pair<std::string, std::string>> extensions;
};

ozo::blob_t MakeDer(const CertificateParams& params);
ozo::blob_t MakePem(const CertificateParams& params);
// The private key of a type, unencrypted PEM (for a TLS server in a test).
ozo::blob_t MakeKeyPem(KeyType key);

enum class Pkcs12Encryption {
  Modern,  // PBES2 with AES-256-CBC, SHA-256 MAC (OpenSSL 3 default)
  Legacy,  // RC2-40 for certificates, 3DES for the key, SHA-1 MAC
};

struct Pkcs12Params {
  CertificateParams certificate;
  std::string password = "secret";
  bool withCertificate = true;
  std::optional<KeyType> containerKey;  // the key put in; the certificate's own when absent
  int caCertificates = 0;
  Pkcs12Encryption encryption = Pkcs12Encryption::Modern;
  int iterations = 2048;
};

ozo::blob_t MakePkcs12(const Pkcs12Params& params);

// "YYYYMMDDHHMMSSZ" of a POSIX time.
std::string GeneralizedTime(std::int64_t posixSeconds);

ozo::blob_t BlobOf(const std::string& bytes);
std::string StringOf(const ozo::blob_t& blob);

// The bytes of a file of the shared test vectors (or any path).
ozo::blob_t ReadFile(const std::string& path);
// The shared test vectors live beside the project, not in it: in
// $CM_VECTORS_DIR when set, else where the build was told (CM_VECTORS_DIR).
std::string VectorsDir();
std::string VectorPath(const std::string& name);

}  // namespace test
