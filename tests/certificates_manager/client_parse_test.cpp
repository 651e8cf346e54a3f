#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/provider.h>

#include "certificates_manager/cert_parser/cert_parser.h"
#include "certificates_manager/cert_parser/library_context.h"
#include "host/service_host.h"
#include "tests/support/certificate_builder.h"
#include "tests/support/recording_host.h"
#include "tests/support/trace_capture.h"

namespace {

using ivo::Certificate;
using test::Pkcs12Encryption;
using test::Pkcs12Spec;

constexpr ozo::result_t kNoResultCode = ozo::results::ExceptionHasNoResultCode;

Pkcs12Spec Spec(Pkcs12Encryption encryption, std::string password = "secret") {
  Pkcs12Spec spec;
  spec.certificate.subject = {{"CN", "client"}};
  spec.password = std::move(password);
  spec.encryption = encryption;
  return spec;
}

class ClientParseTest : public testing::TestWithParam<Pkcs12Encryption> {
 protected:
  void SetUp() override { ERR_clear_error(); }

  std::string ErrorText() const { return test::OnlyRecord(m_host.tracer(), 300); }

  test::RecordingHost m_host;
};

TEST_P(ClientParseTest, OpensWithItsPassword) {
  Certificate record;
  ASSERT_EQ(ivo::ParseClientCertificate(&m_host.tracer(), test::MakePkcs12(Spec(GetParam())), "secret", record), 0)
      << ErrorText();
  EXPECT_EQ(record.subject, "CN=client");
}

TEST_P(ClientParseTest, WrongPasswordFailsInPkcs12Parse) {
  Certificate record;
  EXPECT_EQ(ivo::ParseClientCertificate(&m_host.tracer(), test::MakePkcs12(Spec(GetParam())), "wrong", record),
            kNoResultCode);
  EXPECT_EQ(ErrorText().rfind("PKCS12_parse failed. Reason: ", 0), 0u) << ErrorText();
  EXPECT_TRUE(record.subject.empty());
}

TEST_P(ClientParseTest, AContainerWithoutCertificateFails) {
  Pkcs12Spec spec = Spec(GetParam());
  spec.withCertificate = false;
  Certificate record;
  EXPECT_EQ(ivo::ParseClientCertificate(&m_host.tracer(), test::MakePkcs12(spec), "secret", record), kNoResultCode);
  EXPECT_EQ(ErrorText().rfind("PKCS12_parse failed. Reason: ", 0), 0u) << ErrorText();
}

INSTANTIATE_TEST_SUITE_P(Encryptions, ClientParseTest,
                         testing::Values(Pkcs12Encryption::Modern, Pkcs12Encryption::Legacy),
                         [](const testing::TestParamInfo<Pkcs12Encryption>& info) {
                           return info.param == Pkcs12Encryption::Modern ? "Modern" : "Legacy";
                         });

TEST_F(ClientParseTest, NotAContainerFailsInTheDecoder) {
  Certificate record;
  EXPECT_EQ(ivo::ParseClientCertificate(&m_host.tracer(), test::BlobOf("not pkcs12"), "x", record), kNoResultCode);
  EXPECT_EQ(ErrorText().rfind("d2i_PKCS12_bio failed. Reason: ", 0), 0u) << ErrorText();
  ozo::blob_t withStorage;
  withStorage.reserve(8);
  m_host.tracer().Clear();
  EXPECT_EQ(ivo::ParseClientCertificate(&m_host.tracer(), withStorage, "x", record), kNoResultCode);
  EXPECT_EQ(ErrorText().rfind("d2i_PKCS12_bio failed. Reason: ", 0), 0u) << ErrorText();
  m_host.tracer().Clear();
  EXPECT_EQ(ivo::ParseClientCertificate(&m_host.tracer(), ozo::blob_t(), "x", record), kNoResultCode);
  EXPECT_EQ(ErrorText().rfind("BIO_new_mem_buf failed. Reason: ", 0), 0u) << ErrorText();
}

TEST(LegacyContainers, LeaveTheProcessDefaultContextAsItWas) {
  ASSERT_EQ(OSSL_PROVIDER_available(nullptr, "legacy"), 0);
  const ozo::blob_t legacy = test::MakePkcs12(Spec(Pkcs12Encryption::Legacy));
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
  EXPECT_EQ(ivo::ParseClientCertificate(nullptr, test::MakePkcs12(Spec(Pkcs12Encryption::Legacy)), "secret", record,
                                        withoutModules),
            kNoResultCode);
  // The default provider is built in, so modern containers still open.
  EXPECT_EQ(ivo::ParseClientCertificate(nullptr, test::MakePkcs12(Spec(Pkcs12Encryption::Modern)), "secret", record,
                                        withoutModules),
            0);
}

}  // namespace
