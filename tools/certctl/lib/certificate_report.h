// What inspect tells of one certificate: the fields openssl x509 -text and
// step certificate inspect show, and the warnings an operator should see.
#pragma once

#include <openssl/x509v3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ossl/text.h"
#include "tools/certctl/lib/output.h"

namespace certctl {

// A public or private key: "RSA" 2048, "EC" 256 "prime256v1", "ED25519" 256.
struct KeyFacts {
  std::string algorithm;
  int bits = 0;
  std::string curve;     // the EC group
  std::string exponent;  // the RSA public exponent, decimal
};
KeyFacts KeyFactsOf(EVP_PKEY* key);
// "EC 256 bits (prime256v1)", "RSA 2048 bits, exponent 65537"; "unknown"
// without a key.
std::string KeyText(const KeyFacts& key);

// An extension the report names by no field of its own, as OpenSSL prints
// it (its lines joined by "; "), or its DER in hex when OpenSSL knows it not.
struct ExtensionFacts {
  std::string name;  // OpenSSL's long name, or the OID
  std::string oid;
  bool critical = false;
  std::string value;
};

struct CertificateReport {
  int version = 0;      // 1, 2 or 3
  std::string subject;  // UTF-8, "CN=edr.test, O=Test Org"
  std::string issuer;
  std::string serial;         // colon hex, "0A:FF:00"
  std::string serialDecimal;  // "720640"
  std::string notBefore, notAfter;
  std::int64_t notBeforeSeconds = 0, notAfterSeconds = 0;
  std::vector<std::string> subjectAltNames;  // "DNS:edr.test", "IP:127.0.0.1", "email:...", "URI:..."
  KeyFacts key;
  std::string signatureAlgorithm;
  std::vector<std::string> keyUsage, extendedKeyUsage;
  bool hasBasicConstraints = false;
  bool ca = false;
  std::optional<long> pathLength;
  std::string subjectKeyId, authorityKeyId;  // colon hex
  // The extensions given a field above that their issuer marked critical,
  // by field ("Subject alt names"), and every other extension.
  std::vector<std::string> criticalFields;
  std::vector<ExtensionFacts> otherExtensions;
  std::string sha1, sha256;  // colon hex, as openssl x509 -fingerprint prints them
  std::vector<std::string> warnings;
};

using ossl::AlternativeNameText;
using ossl::NameText;

// The report of `certificate`; `presentedByServer` adds the warnings that
// only a server's own certificate deserves (no subject alternative names).
CertificateReport ReportOf(X509* certificate, bool presentedByServer);

// The report's lines, "  Field:  value", days counted from `now`.
std::string ReportText(const CertificateReport& report, std::int64_t now);
Json ReportJson(const CertificateReport& report, std::int64_t now);

}  // namespace certctl
