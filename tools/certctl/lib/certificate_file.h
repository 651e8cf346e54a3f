// certctl's own reading of certificate files and stored records, with
// OpenSSL: what it tells an operator about a file besides what the
// component decides (which certificate, why it cannot be read, what else
// the file holds). Never used in place of the component's verdict.
#pragma once

#include <openssl/x509.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ossl/pkcs12.h"
#include "ossl/text.h"
#include "ozo/types/basic_string.h"
#include "ozo/types/blob.h"

namespace certctl {

using ossl::UniquePtr;

// The certificates of a server certificate file, in order: one DER
// certificate (and any that follow it), or every PEM block.
struct ServerFile {
  std::vector<UniquePtr<X509>> certificates;
  bool pem = false;
  bool trailingData = false;  // bytes after the certificates that are not one
};

// Reads `bytes` into `file`; on failure returns why, as a phrase that follows
// the file's name ("is empty", "is not a certificate (neither DER nor PEM)",
// "is a private key, not a certificate: ...", "is a PKCS#12 container, ...").
std::string ReadServerFile(const ozo::blob_t& bytes, ServerFile& file);

// The certificate, key and other certificates of a PKCS#12 container.
using ClientFile = ossl::Container;
using ContainerProblem = ossl::ContainerProblem;

// Reads the container with `password` (legacy algorithms included).
ContainerProblem ReadClientFile(const ozo::blob_t& bytes, const ozo::string8_t& password, ClientFile& file);
using ossl::Describe;
using Holder = ossl::ProblemHolder;

using ossl::SecondsOf;
// Why the component cannot represent the certificate's dates ("its validity
// starts before 1601"), or empty when it can.
std::string DateProblem(const X509* certificate);
// The certificate's end, "YYYY-MM-DDTHH:MM:SSZ".
std::string NotAfterText(const X509* certificate);
std::string NotBeforeText(const X509* certificate);

}  // namespace certctl
