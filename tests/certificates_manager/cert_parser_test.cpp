// What the decoders take from a certificate. Their failures, and the records
// they trace, are in the transcripts; real-world certificates in the vectors.
#include "certificates_manager/cert_parser/cert_parser.h"

#include <gtest/gtest.h>
#include <openssl/provider.h>
#include <stdlib.h>

#include <memory>
#include <vector>

#include "certificates_manager/cert_parser/library_context.h"
#include "tests/support/certificate_builder.h"
#include "tests/support/time_zone.h"

namespace {

using ivo::Certificate;
using test::CertificateParams;
using test::Pkcs12Encryption;

TEST(CertificateToJson, DatesAreUtcWhateverTheLocalTimeZone) {
  CertificateParams params;
  params.notAfter = "20491231235959Z";
  Certificate record;
  ASSERT_EQ(ivo::ParseServerCertificate(nullptr, test::MakeDer(params), record), 0);
  test::ScopedTimeZone newYork("America/New_York");
  EXPECT_NE(ivo::CertificateToJson(record).find("\"ExpirationDate\":\"2049-12-31T23:59:59Z\""), std::string::npos);
}

// DER becomes PEM (0), replacing what the output held; PEM is handed on as it
// is, appended to what the output holds, with "False" (1): nothing was
// converted. Neither is an error.
TEST(ConvertDerToPem, ConvertsDerAndHandsPemOnWithFalse) {
  const ozo::blob_t der = test::MakeDer(CertificateParams());
  ozo::blob_t pem = test::BlobOf("dropped:");
  ASSERT_EQ(ivo::ConvertDerToPem(nullptr, der, pem), 0);
  EXPECT_EQ(test::StringOf(pem).rfind("-----BEGIN CERTIFICATE-----\n", 0), 0u);
  Certificate fromDer, fromPem;
  ASSERT_EQ(ivo::ParseServerCertificate(nullptr, der, fromDer), 0);
  ASSERT_EQ(ivo::ParseServerCertificate(nullptr, pem, fromPem), 0);
  EXPECT_EQ(fromDer.sha256, fromPem.sha256);

  ozo::blob_t out = test::BlobOf("kept:");
  ASSERT_EQ(ivo::ConvertDerToPem(nullptr, pem, out), ozo::results::False);
  EXPECT_EQ(test::StringOf(out), "kept:" + test::StringOf(pem));
}

test::Pkcs12Params Container(Pkcs12Encryption encryption) {
  test::Pkcs12Params params;
  params.certificate.subject = {{"CN", "client"}};
  params.encryption = encryption;
  return params;
}

TEST(ClientParse, ModernAndLegacyContainersOpenWithTheirPassword) {
  for (Pkcs12Encryption encryption : {Pkcs12Encryption::Modern, Pkcs12Encryption::Legacy}) {
    Certificate record;
    ASSERT_EQ(ivo::ParseClientCertificate(nullptr, test::MakePkcs12(Container(encryption)), "secret", record), 0);
    EXPECT_EQ(record.subject, "CN=client");
  }
}

TEST(LegacyContainers, LeaveTheProcessDefaultContextAsItWas) {
  ASSERT_EQ(OSSL_PROVIDER_available(nullptr, "legacy"), 0);
  const ozo::blob_t legacy = test::MakePkcs12(Container(Pkcs12Encryption::Legacy));
  for (int i = 0; i < 3; ++i) {
    Certificate record;
    ASSERT_EQ(ivo::ParseClientCertificate(nullptr, legacy, "secret", record), 0);
  }
  EXPECT_EQ(OSSL_PROVIDER_available(nullptr, "legacy"), 0);
  EXPECT_EQ(OSSL_LIB_CTX_get0_global_default(), OSSL_LIB_CTX_set0_default(nullptr));
}

TEST(LegacyContainers, WithoutTheLegacyModuleOnlyModernContainersOpen) {
  const ivo::openssl::LibraryContext withoutModules("/nonexistent/ossl-modules");
  EXPECT_FALSE(withoutModules.hasLegacy());
  Certificate record;
  EXPECT_EQ(ivo::ParseClientCertificate(nullptr, test::MakePkcs12(Container(Pkcs12Encryption::Legacy)), "secret",
                                        record, withoutModules),
            ozo::results::ExceptionHasNoResultCode);
  // The default provider is built in, so modern containers still open.
  EXPECT_EQ(ivo::ParseClientCertificate(nullptr, test::MakePkcs12(Container(Pkcs12Encryption::Modern)), "secret",
                                        record, withoutModules),
            0);
}

// A context whose legacy provider could not be loaded (here: OpenSSL is sent
// to a folder without modules while it is made) is not pooled, so the next
// call gets a healthy context and opens a legacy container.
TEST(LegacyContainers, AContextMadeWithoutTheLegacyModuleIsNotReused) {
  ::setenv("OPENSSL_MODULES", "/nonexistent/ossl-modules", 1);
  {
    // Borrow until a fresh context is made (the pool may hold healthy ones).
    std::vector<std::unique_ptr<ivo::openssl::PooledContext>> borrowed;
    do {
      borrowed.push_back(std::make_unique<ivo::openssl::PooledContext>(ivo::openssl::ContextUse::Containers));
    } while (borrowed.back()->get().hasLegacy() && borrowed.size() < 64);
    ::unsetenv("OPENSSL_MODULES");
    ASSERT_FALSE(borrowed.back()->get().hasLegacy());
  }  // given back, the failed one last
  Certificate record;
  EXPECT_EQ(
      ivo::ParseClientCertificate(nullptr, test::MakePkcs12(Container(Pkcs12Encryption::Legacy)), "secret", record), 0);
}

}  // namespace
