#include <gtest/gtest.h>

#include "certificates_manager/cert_parser/cert_parser.h"
#include "host/service_host.h"
#include "tests/support/certificate_builder.h"
#include "tests/support/recording_host.h"

namespace {

using test::BlobOf;
using test::StringOf;

class ConvertDerToPemTest : public testing::Test {
 protected:
  std::vector<std::string> Infos() const { return m_host.tracer().texts(800); }
  test::RecordingHost m_host;
  test::CertificateSpec m_spec;
};

TEST_F(ConvertDerToPemTest, DerBecomesPemTextWithEntryDerAndExitRecords) {
  ozo::blob_t out;
  ASSERT_EQ(ivo::ConvertDerToPem(&m_host.tracer(), test::MakeDer(m_spec), out), 0);
  const std::string pem = StringOf(out);
  EXPECT_EQ(pem.rfind("-----BEGIN CERTIFICATE-----\n", 0), 0u);
  EXPECT_EQ(pem.back(), '\n');
  EXPECT_EQ(pem.find('\0'), std::string::npos);
  EXPECT_EQ(Infos(),
            (std::vector<std::string>{"ConvertDerToPem() ", "ConvertDerToPem: Given certificate is in DER format",
                                      "ConvertDerToPem() <- "}));
  // Round trip: the PEM text is the same certificate.
  ivo::Certificate fromDer, fromPem;
  ASSERT_EQ(ivo::ParseServerCertificate(nullptr, test::MakeDer(m_spec), fromDer), 0);
  ASSERT_EQ(ivo::ParseServerCertificate(nullptr, out, fromPem), 0);
  EXPECT_EQ(fromDer.subject, fromPem.subject);
}

TEST_F(ConvertDerToPemTest, PemIsAppendedUnchangedAndAnswersFalse) {
  const ozo::blob_t pem = BlobOf("leading text\n" + StringOf(test::MakePem(m_spec)) + StringOf(test::MakePem(m_spec)));
  ozo::blob_t out = BlobOf("kept:");
  ASSERT_EQ(ivo::ConvertDerToPem(&m_host.tracer(), pem, out), ozo::results::False);
  EXPECT_EQ(StringOf(out), "kept:" + StringOf(pem));
  EXPECT_EQ(Infos(),
            (std::vector<std::string>{"ConvertDerToPem() ", "ConvertDerToPem: Given certificate is not in DER format",
                                      "ConvertDerToPem: Given certificate is in PEM format already"}));
}

TEST_F(ConvertDerToPemTest, NeitherDerNorPemFailsAndLeavesTheOutput) {
  ozo::blob_t out = BlobOf("kept");
  EXPECT_EQ(ivo::ConvertDerToPem(&m_host.tracer(), BlobOf("garbage"), out), ozo::results::ExceptionHasNoResultCode);
  EXPECT_EQ(StringOf(out), "kept");
  ASSERT_EQ(m_host.tracer().texts(300).size(), 1u);
  EXPECT_EQ(m_host.tracer().texts(300)[0].rfind("ConvertDerToPem PEM_read_bio_X509 failed. Reason: ", 0), 0u);
}

TEST_F(ConvertDerToPemTest, EmptyBlobWithoutStorageFailsInTheMemoryBio) {
  ozo::blob_t out;
  EXPECT_EQ(ivo::ConvertDerToPem(&m_host.tracer(), ozo::blob_t(), out), ozo::results::ExceptionHasNoResultCode);
  EXPECT_EQ(Infos().back(), "ConvertDerToPem: Given certificate is not in DER format");
  EXPECT_EQ(m_host.tracer().texts(300)[0].rfind("ConvertDerToPem BIO_new_mem_buf failed. Reason: ", 0), 0u);
}

TEST_F(ConvertDerToPemTest, NullTracerChangesNoResult) {
  ozo::blob_t out;
  EXPECT_EQ(ivo::ConvertDerToPem(nullptr, test::MakeDer(m_spec), out), 0);
  EXPECT_EQ(ivo::ConvertDerToPem(nullptr, BlobOf("garbage"), out), ozo::results::ExceptionHasNoResultCode);
}

}  // namespace
