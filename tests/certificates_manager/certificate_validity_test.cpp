// The validity window at its edges; what an out-of-period certificate
// traces is in the transcripts.
#include "certificates_manager/certificate_validity.h"

#include <gtest/gtest.h>

#include "tests/support/certificate_builder.h"

namespace {

constexpr std::int64_t kNow = 4102444800;  // 2100-01-01T00:00:00Z, a Friday

ivo::Certificate WithDates(const std::string& notBefore, const std::string& notAfter) {
  test::CertificateParams params;
  params.notBefore = notBefore;
  params.notAfter = notAfter;
  ivo::Certificate record;
  EXPECT_EQ(ivo::ParseServerCertificate(nullptr, test::MakeDer(params), record), 0);
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

}  // namespace
