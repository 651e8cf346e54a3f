#include "certificates_manager/certificate_validity.h"

#include <gtest/gtest.h>

#include "host/service_host.h"
#include "tests/support/certificate_builder.h"
#include "tests/support/recording_host.h"

namespace {

constexpr std::int64_t kNow = 4102444800;  // 2100-01-01T00:00:00Z, a Friday

ivo::Certificate WithDates(const std::string& notBefore, const std::string& notAfter) {
  test::CertificateSpec spec;
  spec.notBefore = notBefore;
  spec.notAfter = notAfter;
  ivo::Certificate record;
  EXPECT_EQ(ivo::ParseServerCertificate(nullptr, test::MakeDer(spec), record), 0);
  return record;
}

struct WindowCase {
  const char* name;
  std::int64_t notBefore, notAfter;
  bool expired;
};

class ValidityWindowTest : public testing::TestWithParam<WindowCase> {};

TEST_P(ValidityWindowTest, ValidFromNotBeforeUntilJustBeforeNotAfter) {
  const auto record =
      WithDates(test::GeneralizedTime(GetParam().notBefore), test::GeneralizedTime(GetParam().notAfter));
  EXPECT_EQ(ivo::IsCertificateExpired(record, nullptr, kNow), GetParam().expired);
}

INSTANTIATE_TEST_SUITE_P(Table, ValidityWindowTest,
                         testing::Values(WindowCase{"Inside", kNow - 10, kNow + 10, false},
                                         WindowCase{"AtNotBefore", kNow, kNow + 10, false},
                                         WindowCase{"AtNotAfter", kNow - 10, kNow, true},
                                         WindowCase{"JustBeforeNotAfter", kNow - 10, kNow + 1, false},
                                         WindowCase{"NotYetValid", kNow + 1, kNow + 10, true},
                                         WindowCase{"Ended", kNow - 10, kNow - 1, true}),
                         [](const testing::TestParamInfo<WindowCase>& info) { return info.param.name; });

TEST(UtcSeconds, MatchesTimegmAcrossCenturies) {
  for (std::int64_t seconds : {-11644473600LL, -1LL, 0LL, 951782400LL, 4102444800LL, 253402300799LL}) {
    const std::time_t t = seconds;
    std::tm utc{};
    gmtime_r(&t, &utc);
    EXPECT_EQ(ivo::UtcSeconds(utc), seconds);
  }
}

TEST(IsCertificateExpired, DescribesAnExpiredCertificateAtLevel800) {
  test::RecordingHost host;
  const auto record = WithDates("21000102000000Z", "21000201000000Z");
  EXPECT_TRUE(ivo::IsCertificateExpired(record, &host.tracer(), kNow));
  EXPECT_EQ(host.tracer().texts(800), (std::vector<std::string>{"IsCertificateExpired: Certificate with parameters:\n"
                                                                "\t subject: CN=Test Server, O=Test Org\n"
                                                                "\t issuer: CN=Test Server, O=Test Org\n"
                                                                "\t notAfter Mon Feb  1 00:00:00 2100\n"
                                                                "\t notBefore Sat Jan  2 00:00:00 2100\n"
                                                                "\t Is expired"}));
}

TEST(IsCertificateExpired, WritesNothingWhenValidOrWhenLevel800IsRefused) {
  test::RecordingHost host;
  EXPECT_FALSE(ivo::IsCertificateExpired(WithDates("20000101000000Z", "22000101000000Z"), &host.tracer(), kNow));
  host.tracer().SetThreshold(300);
  EXPECT_TRUE(ivo::IsCertificateExpired(WithDates("20000101000000Z", "20010101000000Z"), &host.tracer(), kNow));
  EXPECT_TRUE(host.tracer().lines().empty());
}

TEST(IsCertificateExpired, YearsBefore1601CannotBeConverted) {
  test::RecordingHost host;
  EXPECT_TRUE(ivo::IsCertificateExpired(WithDates("16001231000000Z", "22000101000000Z"), &host.tracer(), kNow));
  EXPECT_EQ(host.tracer().texts(300),
            (std::vector<std::string>{"IsCertificateExpired: Failed to convert certificate dates"}));
  host.tracer().Clear();
  EXPECT_FALSE(ivo::IsCertificateExpired(WithDates("16010101000000Z", "22000101000000Z"), &host.tracer(), kNow));
  EXPECT_TRUE(host.tracer().lines().empty());
}

}  // namespace
