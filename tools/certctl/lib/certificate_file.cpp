#include "tools/certctl/lib/certificate_file.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <string_view>

#include "tools/certctl/lib/dates.h"
#include "tools/certctl/lib/output.h"

namespace certctl {
namespace {

// The legacy provider, for containers made with RC2-40 or 3DES, in the
// process's default context (with the default provider, which an explicit
// load no longer brings in by itself). Loaded once, and only when a
// container is not read without it: certificates and modern containers need
// neither, and loading costs every command that reads one. The component
// keeps contexts of its own.
bool LoadLegacyProvider() {
  static const struct Providers {
    UniquePtr<OSSL_PROVIDER> legacy{OSSL_PROVIDER_load(nullptr, "legacy")};
    UniquePtr<OSSL_PROVIDER> standard{OSSL_PROVIDER_load(nullptr, "default")};
  } providers;
  return providers.legacy != nullptr;
}

// PKCS12_parse into `file`: 1 when parsed, and whether the MAC failed.
// PKCS12_parse checks the MAC first and says so when it fails: the key
// derivation, the dearest step, runs once for the MAC.
int Parse(PKCS12* container, const ozo::string8_t& password, ClientFile& file, bool& macFailed) {
  file = ClientFile();
  EVP_PKEY* key = nullptr;
  X509* certificate = nullptr;
  STACK_OF(X509)* others = nullptr;
  ERR_clear_error();
  const int parsed = PKCS12_parse(container, password.c_str(), &key, &certificate, &others);
  macFailed = ERR_GET_LIB(ERR_peek_error()) == ERR_LIB_PKCS12 &&
              ERR_GET_REASON(ERR_peek_error()) == PKCS12_R_MAC_VERIFY_FAILURE;
  file.key.reset(key);
  file.certificate.reset(certificate);
  while (others && sk_X509_num(others) > 0) file.others.emplace_back(sk_X509_shift(others));
  sk_X509_free(others);
  ERR_clear_error();
  return parsed;
}

UniquePtr<BIO> ReadOnlyBio(const ozo::blob_t& bytes) {
  return UniquePtr<BIO>(bytes.size() <= INT_MAX ? BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()))
                                                : nullptr);
}

bool Blank(const unsigned char* begin, const unsigned char* end) {
  return std::all_of(begin, end, [](unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

void ReadDer(const ozo::blob_t& bytes, ServerFile& file) {
  const unsigned char* next = bytes.data();
  const unsigned char* end = bytes.data() + bytes.size();
  while (next < end) {
    const unsigned char* start = next;
    UniquePtr<X509> certificate(d2i_X509(nullptr, &next, end - next));
    if (!certificate) {
      next = start;
      break;
    }
    file.certificates.push_back(std::move(certificate));
  }
  file.trailingData = !file.certificates.empty() && next < end;
}

void ReadPem(const ozo::blob_t& bytes, ServerFile& file) {
  UniquePtr<BIO> bio = ReadOnlyBio(bytes);
  if (!bio) return;
  while (UniquePtr<X509> certificate{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)})
    file.certificates.push_back(std::move(certificate));
  if (file.certificates.empty()) return;
  file.pem = true;
  static constexpr char kEnd[] = "-----END CERTIFICATE-----";
  const unsigned char* begin = bytes.data();
  const unsigned char* end = begin + bytes.size();
  const unsigned char* last = std::find_end(begin, end, kEnd, kEnd + sizeof(kEnd) - 1);
  file.trailingData = last == end || !Blank(last + sizeof(kEnd) - 1, end);
}

// What a file that holds no certificate holds instead, as a phrase after
// its name: the kinds of file an operator gives by mistake get a sentence
// that says what to do.
std::string WhatElse(const ozo::blob_t& bytes) {
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (text.find("-----BEGIN") != std::string_view::npos && text.find("PRIVATE KEY-----") != std::string_view::npos)
    return "is a private key, not a certificate: a server certificate is stored without its key (set-client takes a "
           "PKCS#12 container with both)";
  if (text.find("-----BEGIN CERTIFICATE REQUEST-----") != std::string_view::npos ||
      text.find("-----BEGIN NEW CERTIFICATE REQUEST-----") != std::string_view::npos)
    return "is a certificate request, not a certificate: it must be signed first";
  UniquePtr<BIO> bio = ReadOnlyBio(bytes);
  if (bio && UniquePtr<PKCS12>(d2i_PKCS12_bio(bio.get(), nullptr)))
    return "is a PKCS#12 container, not a certificate: store it with set-client (inspect it with --client)";
  return "is not a certificate (neither DER nor PEM)";
}

}  // namespace

std::string ReadServerFile(const ozo::blob_t& bytes, ServerFile& file) {
  file = ServerFile();
  if (bytes.size() == 0) return "is empty";
  ReadDer(bytes, file);
  if (file.certificates.empty()) ReadPem(bytes, file);
  ERR_clear_error();
  return file.certificates.empty() ? WhatElse(bytes) : "";
}

ContainerProblem ReadClientFile(const ozo::blob_t& bytes, const ozo::string8_t& password, ClientFile& file) {
  file = ClientFile();
  if (bytes.size() == 0) return ContainerProblem::Empty;
  UniquePtr<BIO> bio = ReadOnlyBio(bytes);
  UniquePtr<PKCS12> container(bio ? d2i_PKCS12_bio(bio.get(), nullptr) : nullptr);
  if (!container) return ContainerProblem::NotPkcs12;
  bool macFailed = false;
  int parsed = Parse(container.get(), password, file, macFailed);
  if (!parsed && !macFailed && LoadLegacyProvider()) parsed = Parse(container.get(), password, file, macFailed);
  // PKCS12_parse takes the certificate that matches the key; another one
  // goes with the others.
  if (!parsed) return macFailed ? ContainerProblem::WrongPassword : ContainerProblem::Damaged;
  if (!file.certificate && !file.key && !file.others.empty()) return ContainerProblem::NoKey;
  if (!file.certificate)
    return file.key && !file.others.empty() ? ContainerProblem::KeyMismatch : ContainerProblem::NoCertificate;
  return ContainerProblem::None;
}

std::string Describe(ContainerProblem problem, Holder holder) {
  // What is said of a file (after its name) and of a stored record. A switch
  // without a default: the compiler names a problem left without words.
  const auto say = [holder](const char* file, const char* record) { return holder == Holder::File ? file : record; };
  switch (problem) {
    case ContainerProblem::None:
      return "";
    case ContainerProblem::Empty:
      return say("is empty", "it is empty");
    case ContainerProblem::NotPkcs12:
      return say("is not a PKCS#12 container", "it is not a PKCS#12 container");
    case ContainerProblem::WrongPassword:
      return say("cannot be opened with this password (its integrity check fails)",
                 "its stored password does not open it");
    case ContainerProblem::Damaged:
      return say("is damaged: its contents cannot be read", "it is damaged: its contents cannot be read");
    case ContainerProblem::NoCertificate:
      return say("holds no certificate", "it holds no certificate");
    case ContainerProblem::NoKey:
      return say("holds a certificate but no private key: a client certificate needs its key",
                 "it holds a certificate but no private key");
    case ContainerProblem::KeyMismatch:
      return say("holds a private key that matches none of its certificates",
                 "its private key matches none of its certificates");
  }
  return "";
}

std::optional<std::int64_t> SecondsOf(const ASN1_TIME* time) {
  std::tm parts{};
  if (!time || ASN1_TIME_to_tm(time, &parts) != 1) return std::nullopt;
  return static_cast<std::int64_t>(timegm(&parts));
}

std::string DateProblem(const X509* certificate) {
  const std::optional<std::int64_t> notBefore = SecondsOf(X509_get0_notBefore(certificate));
  const std::optional<std::int64_t> notAfter = SecondsOf(X509_get0_notAfter(certificate));
  if (!notBefore || !notAfter) return "its dates cannot be read";
  if (*notBefore < kEpoch1601) return "its validity starts before 1601";
  if (*notAfter < kEpoch1601) return "its validity ends before 1601";
  return "";
}

std::string NotBeforeText(const X509* certificate) {
  const std::optional<std::int64_t> seconds = SecondsOf(X509_get0_notBefore(certificate));
  return seconds ? IsoFromSeconds(*seconds) : "an unreadable date";
}

std::string NotAfterText(const X509* certificate) {
  const std::optional<std::int64_t> seconds = SecondsOf(X509_get0_notAfter(certificate));
  return seconds ? IsoFromSeconds(*seconds) : "an unreadable date";
}

}  // namespace certctl
