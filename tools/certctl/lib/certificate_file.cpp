#include "tools/certctl/lib/certificate_file.h"

#include <openssl/pkcs12.h>

#include <string_view>

#include "tools/certctl/lib/dates.h"
#include "tools/certctl/lib/output.h"

namespace certctl {
namespace {

// What a file that holds no certificate holds instead, as a phrase after
// its name: the kinds of file an operator gives by mistake get a sentence
// that says what to do.
std::string WhatElse(const ozo::blob_t& bytes) {
  const std::string_view text = ossl::View(bytes);
  if (text.find("-----BEGIN") != std::string_view::npos && text.find("PRIVATE KEY-----") != std::string_view::npos)
    return "is a private key, not a certificate: a server certificate is stored without its key (set-client takes a "
           "PKCS#12 container with both)";
  if (text.find("-----BEGIN CERTIFICATE REQUEST-----") != std::string_view::npos ||
      text.find("-----BEGIN NEW CERTIFICATE REQUEST-----") != std::string_view::npos)
    return "is a certificate request, not a certificate: it must be signed first";
  const ossl::UniquePtr<BIO> bio = ossl::ReadOnlyBio(ossl::View(bytes));
  if (bio && ossl::UniquePtr<PKCS12>(d2i_PKCS12_bio(bio.get(), nullptr)))
    return "is a PKCS#12 container, not a certificate: store it with set-client (inspect it with --client)";
  return "is not a certificate (neither DER nor PEM)";
}

}  // namespace

std::string ReadServerFile(const ozo::blob_t& bytes, ServerFile& file) {
  file = ServerFile();
  if (bytes.size() == 0) return "is empty";
  file.certificates = ossl::ReadCertificates(ossl::View(bytes), &file.trailingData, &file.pem);
  return file.certificates.empty() ? WhatElse(bytes) : "";
}

ContainerProblem ReadClientFile(const ozo::blob_t& bytes, const ozo::string8_t& password, ClientFile& file) {
  return ossl::OpenContainer(ossl::View(bytes), password.c_str(), file);
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
