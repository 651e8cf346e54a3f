// The work any implementation must do, measured directly with OpenSSL: the
// baseline both benchmark suites compare against.
#pragma once

#include <benchmark/benchmark.h>
#include <openssl/buffer.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <ctime>
#include <string>

#include "certificates_manager/cert_parser/library_context.h"
#include "ossl/holders.h"
#include "ozo/types/blob.h"
#include "tests/support/certificate_builder.h"

namespace bench {

// A typical server certificate: 2048-bit RSA, three-attribute names, a
// 16-octet serial.
inline test::CertificateParams RsaSpec(const std::string& commonName) {
  test::CertificateParams params;
  params.key = test::KeyType::Rsa2048;
  params.subject = {{"C", "US"}, {"O", "Example Corp"}, {"CN", commonName}};
  params.issuer = test::Name{{"C", "US"}, {"O", "Example Corp"}, {"CN", "Example Issuing CA"}};
  params.serial = {0x4A, 0x3F, 0x11, 0x09, 0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89, 0x10, 0x20, 0x30, 0x40};
  return params;
}

// Both names printed, both digests, both times converted.
inline void ExtractFields(X509* certificate, const EVP_MD* sha1 = EVP_sha1(), const EVP_MD* sha256 = EVP_sha256()) {
  for (const X509_NAME* name : {X509_get_subject_name(certificate), X509_get_issuer_name(certificate)}) {
    ossl::UniquePtr<BIO> bio(BIO_new(BIO_s_mem()));
    X509_NAME_print(bio.get(), name, 0);
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  X509_digest(certificate, sha1, digest, &length);
  X509_digest(certificate, sha256, digest, &length);
  std::tm time{};
  ASN1_TIME_to_tm(X509_get0_notBefore(certificate), &time);
  ASN1_TIME_to_tm(X509_get0_notAfter(certificate), &time);
  benchmark::DoNotOptimize(time);
}

// A library context of the calling thread's own, made on its first use: the
// fastest way OpenSSL 3.0 decodes on a thread, and the floor's context.
inline const ivo::openssl::LibraryContext& ThreadContext() {
  thread_local const ivo::openssl::LibraryContext context;
  return context;
}

// The floor: d2i_X509 and the field extraction, in `context` (by default the
// thread's own).
inline void DecodeAndExtract(const ozo::blob_t& der, const ivo::openssl::LibraryContext& context = ThreadContext()) {
  const ivo::openssl::ScopedDefaultContext scope(context);
  const unsigned char* bytes = der.data();
  ossl::UniquePtr<X509> certificate(d2i_X509(nullptr, &bytes, static_cast<long>(der.size())));
  ExtractFields(certificate.get());
}

// PKCS12_parse of a container, key and certificate released, in the thread's
// own context.
inline void ParseContainer(const ozo::blob_t& container, const char* password) {
  const ivo::openssl::ScopedDefaultContext scope(ThreadContext());
  ossl::UniquePtr<BIO> bio(BIO_new_mem_buf(container.data(), static_cast<int>(container.size())));
  ossl::UniquePtr<PKCS12> p12(d2i_PKCS12_bio(bio.get(), nullptr));
  EVP_PKEY* key = nullptr;
  X509* certificate = nullptr;
  PKCS12_parse(p12.get(), password, &key, &certificate, nullptr);
  EVP_PKEY_free(key);
  X509_free(certificate);
}

}  // namespace bench
