#include "certificates_manager/cert_parser/cert_parser.h"

#include <openssl/buffer.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>

#include <boost/current_function.hpp>
#include <boost/exception/exception.hpp>
#include <boost/exception/info.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <boost/throw_exception.hpp>
#include <climits>
#include <sstream>
#include <stdexcept>

#include "certificates_manager/cert_parser/library_context.h"
#include "ossl/holders.h"
#include "ozo/error_handling/result_from_exception.h"
#include "ozo/trace/trace_stream.h"

namespace ivo {
namespace {

using ossl::UniquePtr;

// An OpenSSL failure: "<message>. Reason: <OpenSSL's text>". The reason is
// the oldest error queued on the calling thread, which this component never
// clears, so it may stem from an earlier call (the failed DER attempt before
// a PEM attempt, typically).
class OpenSslError : public std::runtime_error {
 public:
  explicit OpenSslError(const std::string& message) : std::runtime_error(WithReason(message)) {}

 private:
  static std::string WithReason(const std::string& message) {
    char reason[256] = {};
    ERR_error_string_n(ERR_get_error(), reason, sizeof(reason));
    return message + ". Reason: " + reason;
  }
};

// Throws `exception` as a boost::exception carrying the throwing function and
// source file (the caller's, hence a macro).
#define CM_THROW_WITH_INFO(exception)       \
  throw boost::enable_error_info(exception) \
      << boost::throw_function(BOOST_CURRENT_FUNCTION) << boost::throw_file(__FILE__)
#define CM_THROW_OPENSSL(message) CM_THROW_WITH_INFO(OpenSslError(message))

std::string ToString(const X509_NAME* name) {
  UniquePtr<BIO> bio(BIO_new(BIO_s_mem()));
  if (!bio || X509_NAME_print(bio.get(), name, 0) == 0) CM_THROW_OPENSSL("X509_NAME_print failed");
  BUF_MEM* buffer = nullptr;
  BIO_ctrl(bio.get(), BIO_C_GET_BUF_MEM_PTR, 0, &buffer);
  // Nothing printed (an empty name) leaves the buffer without data.
  if (!buffer || !buffer->data) CM_THROW_OPENSSL("X509_NAME_print failed");
  return std::string(buffer->data, buffer->length);
}

std::tm GetTime(const ASN1_TIME* time) {
  std::tm result{};
  if (ASN1_TIME_to_tm(time, &result) == 0) CM_THROW_OPENSSL("ASN1_TIME_to_tm failed");
  return result;
}

// A read-only BIO over the blob's bytes.
UniquePtr<BIO> ReadOnlyBio(const ozo::blob_t& blob) {
  // BIO_new_mem_buf takes an int length and refuses a null buffer.
  UniquePtr<BIO> bio(blob.size() <= INT_MAX ? BIO_new_mem_buf(blob.data(), static_cast<int>(blob.size())) : nullptr);
  if (!bio) CM_THROW_OPENSSL("BIO_new_mem_buf failed");
  return bio;
}

UniquePtr<X509> DecodeDer(const ozo::blob_t& blob) noexcept {
  const unsigned char* bytes = blob.data();
  return UniquePtr<X509>(d2i_X509(nullptr, &bytes, static_cast<long>(blob.size())));
}

UniquePtr<X509> DecodePem(const ozo::blob_t& blob) {
  UniquePtr<BIO> bio = ReadOnlyBio(blob);
  UniquePtr<X509> certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  if (!certificate) CM_THROW_OPENSSL("PEM_read_bio_X509 failed");
  return certificate;
}

std::string FormatGmt(const std::tm& time) {
  char buffer[100];
  const std::size_t length = std::strftime(buffer, sizeof(buffer), "%FT%TZ", &time);
  if (length == 0) CM_THROW_WITH_INFO(std::runtime_error("strftime failed"));
  return std::string(buffer, length);
}

void Trace(ozo::ITracer* tracer, const char* message) noexcept {
  ozo::trace::Trace(tracer, ozo::trace_level::Info, "ConvertDerToPem", ": ", message);
}

}  // namespace

void Certificate::swap(Certificate& other) noexcept {
  subject.swap(other.subject);
  issuer.swap(other.issuer);
  serialNumber.swap(other.serialNumber);
  std::swap(notBefore, other.notBefore);
  std::swap(notAfter, other.notAfter);
  sha1.swap(other.sha1);
  sha256.swap(other.sha256);
}

void Parse(X509* certificate, Certificate& out) {
  Certificate local;
  const X509_NAME* issuer = X509_get_issuer_name(certificate);
  if (!issuer) CM_THROW_OPENSSL("X509_get_issuer_name failed");
  local.issuer = ToString(issuer);
  const X509_NAME* subject = X509_get_subject_name(certificate);
  if (!subject) CM_THROW_OPENSSL("X509_get_subject_name failed");
  local.subject = ToString(subject);
  const ASN1_INTEGER* serial = X509_get_serialNumber(certificate);
  if (!serial) CM_THROW_OPENSSL("X509_get_serialNumber failed");
  const unsigned char* serialBytes = ASN1_STRING_get0_data(serial);
  local.serialNumber.assign(serialBytes, serialBytes + ASN1_STRING_length(serial));
  const ASN1_TIME* notBefore = X509_getm_notBefore(certificate);
  if (!notBefore) CM_THROW_OPENSSL("X509_get_notBefore failed");
  local.notBefore = GetTime(notBefore);
  const ASN1_TIME* notAfter = X509_getm_notAfter(certificate);
  if (!notAfter) CM_THROW_OPENSSL("X509_get_notAfter failed");
  local.notAfter = GetTime(notAfter);
  Fingerprint(certificate, EVP_sha1(), local.sha1);
  Fingerprint(certificate, EVP_sha256(), local.sha256);
  out.swap(local);
}

void Fingerprint(X509* certificate, const EVP_MD* digest, std::vector<unsigned char>& out) {
  std::vector<unsigned char> bytes(EVP_MAX_MD_SIZE, 0);
  unsigned int length = 0;
  if (X509_digest(certificate, digest, bytes.data(), &length) == 0) CM_THROW_OPENSSL("X509_digest failed");
  bytes.resize(length);
  out = std::move(bytes);
}

std::string ToHexString(const std::vector<unsigned char>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  if (bytes.empty()) return text;
  text.reserve(bytes.size() * 3 - 1);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) text += ' ';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
  return text;
}

ozo::result_t ParseServerCertificate(ozo::ITracer* tracer, const ozo::blob_t& blob, Certificate& out) noexcept {
  return ozo::CallAndConvert(tracer, nullptr, [&] {
    const openssl::PooledContext context(openssl::ContextUse::Certificates);
    openssl::ScopedDefaultContext scope(context.get());
    UniquePtr<X509> certificate = DecodeDer(blob);
    if (!certificate) certificate = DecodePem(blob);
    Parse(certificate.get(), out);
    return ozo::results::NoError;
  });
}

ozo::result_t ParseClientCertificate(ozo::ITracer* tracer, const ozo::blob_t& blob, const ozo::string8_t& password,
                                     Certificate& out) noexcept {
  return ozo::CallAndConvert(tracer, nullptr, [&] {
    const openssl::PooledContext context(openssl::ContextUse::Containers);
    return ParseClientCertificate(tracer, blob, password, out, context.get());
  });
}

ozo::result_t ParseClientCertificate(ozo::ITracer* tracer, const ozo::blob_t& blob, const ozo::string8_t& password,
                                     Certificate& out, const openssl::LibraryContext& context) noexcept {
  return ozo::CallAndConvert(tracer, nullptr, [&] {
    // Only this thread, and only for this call, sees the component's context.
    openssl::ScopedDefaultContext scope(context);
    UniquePtr<BIO> bio = ReadOnlyBio(blob);
    UniquePtr<PKCS12> container(d2i_PKCS12_bio(bio.get(), nullptr));
    if (!container) CM_THROW_OPENSSL("d2i_PKCS12_bio failed");
    EVP_PKEY* rawKey = nullptr;
    X509* rawCertificate = nullptr;
    const int parsed = PKCS12_parse(container.get(), password.c_str(), &rawKey, &rawCertificate, nullptr);
    UniquePtr<EVP_PKEY> key(rawKey);
    UniquePtr<X509> certificate(rawCertificate);
    if (parsed == 0 || !certificate) CM_THROW_OPENSSL("PKCS12_parse failed");
    Parse(certificate.get(), out);
    return ozo::results::NoError;
  });
}

ozo::result_t ConvertDerToPem(ozo::ITracer* tracerArgument, const ozo::blob_t& in, ozo::blob_t& out) noexcept {
  const ozo::ref_ptr<ozo::ITracer> tracer(tracerArgument);
  return ozo::CallAndConvert(tracer.get(), "ConvertDerToPem", [&] {
    const openssl::PooledContext context(openssl::ContextUse::Certificates);
    openssl::ScopedDefaultContext scope(context.get());
    ozo::trace::Trace(tracer.get(), ozo::trace_level::Info, "ConvertDerToPem", "() ");
    if (UniquePtr<X509> certificate = DecodeDer(in)) {
      Trace(tracer.get(), "Given certificate is in DER format");
      UniquePtr<BIO> bio(BIO_new(BIO_s_mem()));
      if (!bio) CM_THROW_OPENSSL("BIO_new failed");
      if (PEM_write_bio_X509(bio.get(), certificate.get()) != 1) CM_THROW_OPENSSL("PEM_write_bio_X509 error");
      BUF_MEM* buffer = nullptr;
      BIO_ctrl(bio.get(), BIO_C_GET_BUF_MEM_PTR, 0, &buffer);
      if (!buffer || !buffer->data || buffer->length == 0) CM_THROW_OPENSSL("PEM_write_bio_X509 wrote 0 bytes");
      out.assign(buffer->data, buffer->length);
      ozo::trace::Trace(tracer.get(), ozo::trace_level::Info, "ConvertDerToPem", "() <- ");
      return ozo::results::NoError;
    }
    Trace(tracer.get(), "Given certificate is not in DER format");
    DecodePem(in);  // proof that the input is a PEM certificate
    Trace(tracer.get(), "Given certificate is in PEM format already");
    out.append(in.data(), in.size());
    return ozo::results::False;
  });
}

std::string CertificateToJson(const Certificate& certificate) {
  boost::property_tree::ptree tree;
  tree.put("Subject", certificate.subject);
  tree.put("Issuer", certificate.issuer);
  tree.put("SerialNumber", ToHexString(certificate.serialNumber));
  tree.put("IssuingDate", FormatGmt(certificate.notBefore));
  tree.put("ExpirationDate", FormatGmt(certificate.notAfter));
  tree.put("Sha1", ToHexString(certificate.sha1));
  tree.put("Sha256", ToHexString(certificate.sha256));
  std::ostringstream stream;
  boost::property_tree::write_json(stream, tree, false);
  // The writer ends its output with a newline; the document ends with exactly one.
  std::string text = stream.str();
  if (text.empty() || text.back() != '\n') text += '\n';
  return text;
}

}  // namespace ivo
