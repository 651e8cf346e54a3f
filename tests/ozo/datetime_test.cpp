#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "ivo_utils/date_to_string_and_viceversa.h"
#include "ozo/datetime/posix_datetime.h"
#include "tests/support/time_zone.h"

namespace {

using ozo::datetime::PosixToUtcTime;

struct Conversion {
  std::int64_t seconds;
  std::int64_t microseconds;
  std::int64_t expected;
};

class PosixToUtcTimeTest : public testing::TestWithParam<Conversion> {};

TEST_P(PosixToUtcTimeTest, Converts) {
  EXPECT_EQ(PosixToUtcTime(GetParam().seconds, GetParam().microseconds), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, PosixToUtcTimeTest,
                         testing::Values(Conversion{0, 0, 0}, Conversion{1, 0, 10000000}, Conversion{0, 1, 10},
                                         Conversion{-11644473600, 0, -116444736000000000},
                                         Conversion{922337203685, 0, 9223372036850000000}));

class MakeTimeTTest : public testing::Test {
  test::ScopedTimeZone m_utc{"UTC"};
};

TEST_F(MakeTimeTTest, TheSecondBeforeTheEpochIsMinusOneWithoutAnError) {
  std::tm time{};
  time.tm_year = 69;
  time.tm_mon = 11;
  time.tm_mday = 31;
  time.tm_hour = 23;
  time.tm_min = 59;
  time.tm_sec = 59;
  EXPECT_EQ(ivo::MakeTimeT(time), -1);
}

TEST_F(MakeTimeTTest, NormalisesItsArgument) {
  std::tm time{};
  time.tm_year = 70;
  time.tm_mon = 0;
  time.tm_mday = 32;  // 1 February
  EXPECT_EQ(ivo::MakeTimeT(time), 31 * 86400);
  EXPECT_EQ(time.tm_mon, 1);
  EXPECT_EQ(time.tm_mday, 1);
}

}  // namespace
