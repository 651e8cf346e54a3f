#include "certificates_manager/cert_parser/cert_parser.h"

#include <gtest/gtest.h>
#include <openssl/err.h>

#include "host/service_host.h"
#include "tests/support/certificate_builder.h"
#include "tests/support/recording_host.h"
#include "tests/support/trace_capture.h"

namespace {

using ivo::Certificate;
using test::BlobOf;
using test::CertificateSpec;
using test::StringOf;

constexpr ozo::result_t kNoResultCode = ozo::results::ExceptionHasNoResultCode;

class ServerParseTest : public testing::Test {
 protected:
  void SetUp() override { ERR_clear_error(); }

  std::string ErrorText() const { return test::OnlyRecord(m_host.tracer(), 300); }

  test::RecordingHost m_host;
};

TEST_F(ServerParseTest, DerAndPemOfOneCertificateGiveTheSameRecord) {
  CertificateSpec spec;
  spec.key = test::KeyType::Rsa2048;
  const ozo::blob_t der = test::MakeDer(spec);
  const ozo::blob_t pem = test::MakePem(spec);
  Certificate fromDer, fromPem;
  ASSERT_EQ(ivo::ParseServerCertificate(&m_host.tracer(), der, fromDer), 0);
  ASSERT_EQ(ivo::ParseServerCertificate(&m_host.tracer(), pem, fromPem), 0);
  EXPECT_EQ(fromDer.subject, "CN=Test Server, O=Test Org");
  EXPECT_EQ(fromDer.subject, fromPem.subject);
  EXPECT_EQ(fromDer.issuer, fromPem.issuer);
  EXPECT_EQ(fromDer.serialNumber, fromPem.serialNumber);
  EXPECT_EQ(fromDer.sha1, fromPem.sha1);
  EXPECT_EQ(fromDer.sha256, fromPem.sha256);
  EXPECT_EQ(fromDer.sha1.size(), 20u);
  EXPECT_EQ(fromDer.sha256.size(), 32u);
  EXPECT_EQ(ivo::ToHexString(fromDer.sha1).size(), 59u);
  EXPECT_EQ(ivo::ToHexString(fromDer.sha256).size(), 95u);
  EXPECT_EQ(fromDer.notAfter.tm_year, 200);
  EXPECT_TRUE(m_host.tracer().lines().empty());
}

struct SerialCase {
  const char* name;
  std::vector<unsigned char> serial;
  bool negative;
  const char* hex;
};

class SerialNumberTest : public testing::TestWithParam<SerialCase> {};

TEST_P(SerialNumberTest, KeepsTheMagnitudeOctets) {
  CertificateSpec spec;
  spec.serial = GetParam().serial;
  spec.negativeSerial = GetParam().negative;
  Certificate record;
  ASSERT_EQ(ivo::ParseServerCertificate(nullptr, test::MakeDer(spec), record), 0);
  EXPECT_EQ(ivo::ToHexString(record.serialNumber), GetParam().hex);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SerialNumberTest,
    testing::Values(SerialCase{"HighBitNeedsALeadingZeroOctet", {0x00, 0xFF}, false, "FF"},
                    SerialCase{"OneOctet", {0x05}, false, "05"}, SerialCase{"Negative", {0x01, 0x02}, true, "01 02"},
                    SerialCase{"TwentyOctets",
                               {0x7F, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19},
                               false,
                               "7F 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13"}),
    [](const testing::TestParamInfo<SerialCase>& info) { return info.param.name; });

TEST(ToHexString, FormatsBytes) {
  EXPECT_EQ(ivo::ToHexString({}), "");
  EXPECT_EQ(ivo::ToHexString({0x0A, 0xFF, 0x00}), "0A FF 00");
}

struct FailureCase {
  const char* name;
  ozo::blob_t (*blob)();  // made in the test: a copied empty blob would lose its storage
  const char* message;
};

class ServerParseFailureTest : public ServerParseTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(ServerParseFailureTest, FailsWithTheStepsMessageAndLeavesTheRecord) {
  Certificate record;
  record.subject = "kept";
  EXPECT_EQ(ivo::ParseServerCertificate(&m_host.tracer(), GetParam().blob(), record), kNoResultCode);
  EXPECT_EQ(record.subject, "kept");
  EXPECT_EQ(ErrorText().rfind(std::string(GetParam().message) + ". Reason: ", 0), 0u) << ErrorText();
}

ozo::blob_t EmptyWithStorage() {
  ozo::blob_t blob;
  blob.reserve(16);
  return blob;
}

ozo::blob_t EmptySubject() {
  CertificateSpec spec;
  spec.subject = {};
  spec.issuer = test::Name{{"CN", "Issuer"}};
  return test::MakeDer(spec);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ServerParseFailureTest,
    testing::Values(FailureCase{"EmptyWithoutStorage", [] { return ozo::blob_t(); }, "BIO_new_mem_buf failed"},
                    FailureCase{"EmptyWithStorage", EmptyWithStorage, "PEM_read_bio_X509 failed"},
                    FailureCase{"NotACertificate", [] { return BlobOf("hello, world"); }, "PEM_read_bio_X509 failed"},
                    FailureCase{"EmptySubject", EmptySubject, "X509_NAME_print failed"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

}  // namespace
