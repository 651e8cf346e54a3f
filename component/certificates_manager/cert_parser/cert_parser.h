// Decoding of certificates with OpenSSL: the parsed record, server (DER or
// PEM) and client (PKCS#12) decoding, DER-to-PEM conversion and the JSON
// document.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <ctime>
#include <string>
#include <vector>

#include "ozo/result.h"
#include "ozo/services.h"
#include "ozo/types/basic_string.h"
#include "ozo/types/blob.h"

namespace ivo {

namespace openssl {
class LibraryContext;
}

// The description of one X.509 certificate. Never stored: whenever the
// fields are needed, the stored bytes are parsed again.
struct Certificate {
  std::string subject;                      // X509_NAME_print, indent 0
  std::string issuer;                       // same form
  std::vector<unsigned char> serialNumber;  // content octets, sign dropped
  std::tm notBefore{};                      // UTC, as ASN1_TIME_to_tm fills it
  std::tm notAfter{};
  std::vector<unsigned char> sha1;    // 20 bytes
  std::vector<unsigned char> sha256;  // 32 bytes

  void swap(Certificate& other) noexcept;
};

// Fills `out` from `certificate` (borrowed) or throws OpenSslError (or
// std::bad_alloc); `out` is untouched on failure.
void Parse(X509* certificate, Certificate& out);

// Replaces `out` with the certificate's digest under `digest`; throws on
// failure, leaving `out` unchanged.
void Fingerprint(X509* certificate, const EVP_MD* digest, std::vector<unsigned char>& out);

// Two upper-case hex digits per byte, separated by single spaces ("0A FF 00").
std::string ToHexString(const std::vector<unsigned char>& bytes);

// The three decoders run in the calling thread's own library context (made
// the thread's default for the call only, restored on every path) and never
// throw. On failure they trace the exception's text
// at level 300 on `tracer` (which may be null), return its code (normally
// "Exception has no result code", 0x80000151) and leave their outputs
// untouched.

// DER first (bytes after a complete certificate are ignored), else the first
// PEM certificate of the text. 0 on success.
ozo::result_t ParseServerCertificate(ozo::ITracer* tracer, const ozo::blob_t& blob, Certificate& out) noexcept;

// The end-entity certificate of a PKCS#12 container opened with `password`
// (empty is allowed). Legacy algorithms open through the component's own
// library context. 0 on success.
ozo::result_t ParseClientCertificate(ozo::ITracer* tracer, const ozo::blob_t& blob, const ozo::string8_t& password,
                                     Certificate& out) noexcept;
// The same through `context`.
ozo::result_t ParseClientCertificate(ozo::ITracer* tracer, const ozo::blob_t& blob, const ozo::string8_t& password,
                                     Certificate& out, const openssl::LibraryContext& context) noexcept;

// DER input: `out` is replaced by its PEM text, result 0. PEM input: its bytes
// are appended to `out` unchanged, result 1 ("False").
ozo::result_t ConvertDerToPem(ozo::ITracer* tracer, const ozo::blob_t& in, ozo::blob_t& out) noexcept;

// The seven-member compact JSON document of the certificate, ending in one
// newline. Throws only on memory exhaustion or a date strftime cannot write.
std::string CertificateToJson(const Certificate& certificate);

}  // namespace ivo
