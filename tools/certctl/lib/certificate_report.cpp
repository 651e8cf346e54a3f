#include "tools/certctl/lib/certificate_report.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <iterator>
#include <sstream>
#include <utility>

#include "tools/certctl/lib/certificate_file.h"
#include "tools/certctl/lib/dates.h"
#include "tools/certctl/lib/terminal_text.h"

namespace certctl {
namespace {

std::string ColonHex(const unsigned char* bytes, std::size_t length) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    if (i) text += ':';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
  return text;
}

std::string ColonHex(const ASN1_STRING* string) {
  return string ? ColonHex(ASN1_STRING_get0_data(string), static_cast<std::size_t>(ASN1_STRING_length(string))) : "";
}

std::string Fingerprint(X509* certificate, const EVP_MD* digest) {
  unsigned char bytes[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  return X509_digest(certificate, digest, bytes, &length) ? ColonHex(bytes, length) : "";
}

// The fields of the report an extension fills, by NID.
constexpr std::pair<int, const char*> kNamedExtensions[] = {
    {NID_subject_alt_name, "Subject alt names"},    {NID_key_usage, "Key usage"},
    {NID_ext_key_usage, "Extended key usage"},      {NID_basic_constraints, "Basic constraints"},
    {NID_subject_key_identifier, "Subject key id"}, {NID_authority_key_identifier, "Authority key id"}};

// OpenSSL's text of an extension, its lines joined by "; "; its DER in hex
// when OpenSSL has no printer for it.
std::string ExtensionText(X509_EXTENSION* extension) {
  const std::string printed =
      ossl::Written([&](BIO* bio) { return X509V3_EXT_print(bio, extension, X509V3_EXT_DEFAULT, 0); });
  if (printed.empty()) return ColonHex(X509_EXTENSION_get_data(extension));
  std::string text;
  std::istringstream lines(printed);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t start = line.find_first_not_of(" \t"), end = line.find_last_not_of(" \t\r");
    if (start != std::string::npos) text += (text.empty() ? "" : "; ") + line.substr(start, end - start + 1);
  }
  return text;
}

void ReadOtherExtensions(X509* certificate, CertificateReport& report) {
  for (int i = 0; i < X509_get_ext_count(certificate); ++i) {
    X509_EXTENSION* extension = X509_get_ext(certificate, i);
    const ASN1_OBJECT* object = X509_EXTENSION_get_object(extension);
    const int nid = OBJ_obj2nid(object);
    const bool critical = X509_EXTENSION_get_critical(extension) == 1;
    const auto named = std::find_if(std::begin(kNamedExtensions), std::end(kNamedExtensions),
                                    [nid](const auto& row) { return row.first == nid; });
    if (named != std::end(kNamedExtensions)) {
      if (critical) report.criticalFields.push_back(named->second);
      continue;
    }
    char oid[128] = "";
    OBJ_obj2txt(oid, sizeof(oid), object, 1);
    report.otherExtensions.push_back(
        {nid == NID_undef ? oid : OBJ_nid2ln(nid), oid, critical, ExtensionText(extension)});
    // A peer rejects a certificate with a critical extension it does not
    // handle: OpenSSL's verifier handles those X509_supported_extension names.
    if (critical && !X509_supported_extension(extension))
      report.warnings.push_back("its critical extension " + report.otherExtensions.back().name + " (" + oid +
                                ") is one a TLS peer does not handle: the peer rejects the certificate");
  }
}

void ReadExtensions(X509* certificate, CertificateReport& report) {
  ReadOtherExtensions(certificate, report);
  const UniquePtr<GENERAL_NAMES> names{
      static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr))};
  for (int i = 0; names.get() && i < sk_GENERAL_NAME_num(names.get()); ++i)
    report.subjectAltNames.push_back(AlternativeNameText(sk_GENERAL_NAME_value(names.get(), i)));

  if (X509_get_extension_flags(certificate) & EXFLAG_KUSAGE) {
    static const std::pair<std::uint32_t, const char*> kUsages[] = {{KU_DIGITAL_SIGNATURE, "Digital Signature"},
                                                                    {KU_NON_REPUDIATION, "Non Repudiation"},
                                                                    {KU_KEY_ENCIPHERMENT, "Key Encipherment"},
                                                                    {KU_DATA_ENCIPHERMENT, "Data Encipherment"},
                                                                    {KU_KEY_AGREEMENT, "Key Agreement"},
                                                                    {KU_KEY_CERT_SIGN, "Certificate Sign"},
                                                                    {KU_CRL_SIGN, "CRL Sign"},
                                                                    {KU_ENCIPHER_ONLY, "Encipher Only"},
                                                                    {KU_DECIPHER_ONLY, "Decipher Only"}};
    const std::uint32_t usage = X509_get_key_usage(certificate);
    for (const auto& [bit, name] : kUsages)
      if (usage & bit) report.keyUsage.push_back(name);
  }
  const UniquePtr<EXTENDED_KEY_USAGE> purposes{
      static_cast<EXTENDED_KEY_USAGE*>(X509_get_ext_d2i(certificate, NID_ext_key_usage, nullptr, nullptr))};
  for (int i = 0; purposes.get() && i < sk_ASN1_OBJECT_num(purposes.get()); ++i) {
    const ASN1_OBJECT* purpose = sk_ASN1_OBJECT_value(purposes.get(), i);
    char text[128] = "";
    OBJ_obj2txt(text, sizeof(text), purpose, 0);
    report.extendedKeyUsage.push_back(text);
  }
  const UniquePtr<BASIC_CONSTRAINTS> constraints{
      static_cast<BASIC_CONSTRAINTS*>(X509_get_ext_d2i(certificate, NID_basic_constraints, nullptr, nullptr))};
  if (constraints.get()) {
    report.hasBasicConstraints = true;
    report.ca = constraints.get()->ca != 0;
    if (constraints.get()->pathlen) report.pathLength = ASN1_INTEGER_get(constraints.get()->pathlen);
  }
  report.subjectKeyId = ColonHex(X509_get0_subject_key_id(certificate));
  report.authorityKeyId = ColonHex(X509_get0_authority_key_id(certificate));
}

void Lint(X509* certificate, bool presentedByServer, CertificateReport& report) {
  if (report.key.algorithm == "RSA" && report.key.bits < 2048)
    report.warnings.push_back("the RSA key has " + std::to_string(report.key.bits) +
                              " bits; 2048 or more is current practice");
  int digest = NID_undef;
  if (X509_get_signature_info(certificate, &digest, nullptr, nullptr, nullptr) &&
      (digest == NID_sha1 || digest == NID_md5))
    report.warnings.push_back(std::string("it is signed with ") + (digest == NID_md5 ? "MD5" : "SHA-1") +
                              ", which no longer protects a signature");
  if (presentedByServer && !report.ca && report.subjectAltNames.empty())
    report.warnings.push_back(
        "it has no subject alternative names: TLS clients check a server's name against them, not against its CN");
}

std::string List(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text.empty() ? "none" : text;
}

std::string Line(const char* field, const std::string& value) {
  std::string line = std::string("  ") + field + ":";
  return line + std::string(line.size() < 24 ? 24 - line.size() : 1, ' ') + Printable(value) + "\n";
}

std::string ValidityText(const CertificateReport& report, std::int64_t now) {
  const std::int64_t days = DaysUntil(report.notAfterSeconds, now);
  const std::string state = now < report.notBeforeSeconds   ? "not valid yet"
                            : now >= report.notAfterSeconds ? "expired " + std::to_string(-days) + " days ago"
                                                            : std::to_string(days) + " days left";
  return report.notBefore + " to " + report.notAfter + " (" + state + ")";
}

}  // namespace

CertificateReport ReportOf(X509* certificate, bool presentedByServer) {
  CertificateReport report;
  report.subject = NameText(X509_get_subject_name(certificate));
  report.issuer = NameText(X509_get_issuer_name(certificate));
  report.version = static_cast<int>(X509_get_version(certificate)) + 1;
  report.serial = ColonHex(X509_get0_serialNumber(certificate));
  if (UniquePtr<BIGNUM> serial{ASN1_INTEGER_to_BN(X509_get0_serialNumber(certificate), nullptr)})
    if (char* decimal = BN_bn2dec(serial.get())) {
      report.serialDecimal = decimal;
      OPENSSL_free(decimal);
    }
  report.notBefore = NotBeforeText(certificate);
  report.notAfter = NotAfterText(certificate);
  report.notBeforeSeconds = SecondsOf(X509_get0_notBefore(certificate)).value_or(0);
  report.notAfterSeconds = SecondsOf(X509_get0_notAfter(certificate)).value_or(0);
  ReadExtensions(certificate, report);
  report.key = KeyFactsOf(X509_get0_pubkey(certificate));
  report.signatureAlgorithm = OBJ_nid2ln(X509_get_signature_nid(certificate));
  report.sha1 = Fingerprint(certificate, EVP_sha1());
  report.sha256 = Fingerprint(certificate, EVP_sha256());
  Lint(certificate, presentedByServer, report);
  return report;
}

KeyFacts KeyFactsOf(EVP_PKEY* key) {
  KeyFacts facts;
  if (!key) return facts;
  const int type = EVP_PKEY_get_base_id(key);
  facts.algorithm = type == EVP_PKEY_RSA ? "RSA" : type == EVP_PKEY_EC ? "EC" : OBJ_nid2sn(type);
  facts.bits = EVP_PKEY_get_bits(key);
  char group[64] = "";
  std::size_t length = 0;
  if (type == EVP_PKEY_EC &&
      EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof(group), &length))
    facts.curve = group;
  BIGNUM* exponent = nullptr;
  if (type == EVP_PKEY_RSA && EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &exponent)) {
    const UniquePtr<BIGNUM> owned(exponent);
    if (char* decimal = BN_bn2dec(exponent)) {
      facts.exponent = decimal;
      OPENSSL_free(decimal);
    }
  }
  return facts;
}

std::string KeyText(const KeyFacts& key) {
  if (key.algorithm.empty()) return "unknown";
  return key.algorithm + " " + std::to_string(key.bits) + " bits" + (key.curve.empty() ? "" : " (" + key.curve + ")") +
         (key.exponent.empty() ? "" : ", exponent " + key.exponent);
}

std::string ReportText(const CertificateReport& report, std::int64_t now) {
  std::string constraints = "none";
  if (report.hasBasicConstraints)
    constraints = std::string(report.ca ? "CA:TRUE" : "CA:FALSE") +
                  (report.pathLength ? ", pathlen:" + std::to_string(*report.pathLength) : "");
  // A field its issuer marked critical says so.
  const auto field = [&report](const char* name, const std::string& value) {
    const bool critical =
        std::find(report.criticalFields.begin(), report.criticalFields.end(), name) != report.criticalFields.end();
    return Line(name, value + (critical ? " (critical)" : ""));
  };
  std::string text =
      Line("Version", std::to_string(report.version)) + Line("Subject", report.subject) +
      Line("Issuer", report.issuer) + Line("Serial number", report.serial + " (" + report.serialDecimal + ")") +
      Line("Validity", ValidityText(report, now)) + field("Subject alt names", List(report.subjectAltNames)) +
      Line("Public key", KeyText(report.key)) + Line("Signature", report.signatureAlgorithm) +
      field("Key usage", List(report.keyUsage)) + field("Extended key usage", List(report.extendedKeyUsage)) +
      field("Basic constraints", constraints) +
      field("Subject key id", report.subjectKeyId.empty() ? "none" : report.subjectKeyId) +
      field("Authority key id", report.authorityKeyId.empty() ? "none" : report.authorityKeyId);
  for (const ExtensionFacts& extension : report.otherExtensions)
    text += Line(extension.name.c_str(), extension.value + (extension.critical ? " (critical)" : ""));
  return text + Line("SHA-1 fingerprint", report.sha1) + Line("SHA-256 fingerprint", report.sha256);
}

Json ReportJson(const CertificateReport& report, std::int64_t now) {
  Json constraints = nullptr;
  if (report.hasBasicConstraints) {
    constraints = {{"ca", report.ca}};
    if (report.pathLength) constraints["pathLength"] = *report.pathLength;
  }
  Json key = {{"algorithm", report.key.algorithm}, {"bits", report.key.bits}};
  if (!report.key.curve.empty()) key["curve"] = report.key.curve;
  if (!report.key.exponent.empty()) key["exponent"] = report.key.exponent;
  Json extensions = Json::array();
  for (const ExtensionFacts& extension : report.otherExtensions)
    extensions.push_back({{"name", extension.name},
                          {"oid", extension.oid},
                          {"critical", extension.critical},
                          {"value", extension.value}});
  return {{"version", report.version},
          {"subject", report.subject},
          {"issuer", report.issuer},
          {"serial", report.serial},
          {"serialDecimal", report.serialDecimal},
          {"notBefore", report.notBefore},
          {"notAfter", report.notAfter},
          {"daysLeft", DaysUntil(report.notAfterSeconds, now)},
          {"subjectAltNames", report.subjectAltNames},
          {"publicKey", key},
          {"signatureAlgorithm", report.signatureAlgorithm},
          {"keyUsage", report.keyUsage},
          {"extendedKeyUsage", report.extendedKeyUsage},
          {"basicConstraints", constraints},
          {"subjectKeyId", report.subjectKeyId},
          {"authorityKeyId", report.authorityKeyId},
          {"criticalFields", report.criticalFields},
          {"otherExtensions", extensions},
          {"sha1", report.sha1},
          {"sha256", report.sha256},
          {"warnings", report.warnings}};
}

}  // namespace certctl
