#include "ozo/types/basic_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "host/service_host.h"
#include "tests/support/recording_host.h"

namespace {

using ozo::string16_t;
using ozo::string8_t;

TEST(BasicString, ShortTextStaysInlineWithoutAnyAllocation) {
  test::RecordingHost host;
  string8_t text("fifteen chars!!", &host.allocator());
  EXPECT_EQ(text.capacity(), 15u);
  EXPECT_EQ(host.allocator().liveBlocks(), 0u);
  EXPECT_EQ(string16_t().capacity(), 7u);
}

TEST(BasicString, GrowsToTwiceTheCapacityOrTheNeededLength) {
  string8_t text("0123456789");
  text.append("abcdefgh", 8);  // 18 needed, 30 doubled
  EXPECT_EQ(text.capacity(), 30u);
  text.append(std::string(100, 'x').c_str(), 100);  // 118 needed > 60
  EXPECT_EQ(text.capacity(), 118u);
  EXPECT_EQ(text.size(), 118u);
  EXPECT_EQ(text.c_str()[118], '\0');
}

TEST(BasicString, UsesTheAllocatorItWasGivenAndReleasesIt) {
  test::RecordingHost host;
  {
    string8_t text(std::string(40, 'a').c_str(), &host.allocator());
    EXPECT_EQ(host.allocator().liveBlocks(), 1u);
    string8_t copy = text;
    EXPECT_EQ(copy.allocator(), &host.allocator());
    EXPECT_EQ(host.allocator().liveBlocks(), 2u);
  }
  EXPECT_EQ(host.allocator().liveBlocks(), 0u);
}

TEST(BasicString, AllocatorFailureRaisesBadAllocAndKeepsTheText) {
  test::RecordingHost host;
  string8_t text("short", &host.allocator());
  host.faults().FailOperation("IAllocator::Allocate", ozo::results::OutOfMemory);
  EXPECT_THROW(text.append(std::string(50, 'x').c_str(), 50), std::bad_alloc);
  EXPECT_EQ(text, std::string_view("short"));
}

// Opaque to the optimiser, so no warning is raised about the refused sizes.
volatile std::size_t g_huge = SIZE_MAX - 2;

struct LengthErrorCase {
  const char* name;
  std::function<void(string8_t&)> operation;
  const char* what;
};

class BasicStringLengthTest : public testing::TestWithParam<LengthErrorCase> {};

TEST_P(BasicStringLengthTest, OverflowNamesTheOperation) {
  string8_t text("abc");
  try {
    GetParam().operation(text);
    FAIL() << "no exception";
  } catch (const std::length_error& e) {
    EXPECT_STREQ(e.what(), GetParam().what);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, BasicStringLengthTest,
                         testing::Values(LengthErrorCase{"Constructor", [](string8_t&) { string8_t("x", g_huge + 2); },
                                                         "ozo::basic_string_t constructor"},
                                         LengthErrorCase{"ReserveExtra", [](string8_t& t) { t.reserve_extra(g_huge); },
                                                         "ozo::basic_string_t::reserve_extra()"},
                                         LengthErrorCase{"ResizeExtraAt",
                                                         [](string8_t& t) { t.resize_extra_at(0, g_huge); },
                                                         "ozo::basic_string_t::resize_extra_at"},
                                         LengthErrorCase{"Append", [](string8_t& t) { t.append("x", g_huge); },
                                                         "ozo::basic_string_t::append()"}),
                         [](const testing::TestParamInfo<LengthErrorCase>& info) { return info.param.name; });

TEST(BasicString, SecureClearZeroesEveryCharacterItCanHold) {
  string8_t text(std::string(40, 's').c_str());
  const char* storage = text.c_str();
  const std::size_t capacity = text.capacity();
  text.secure_clear();
  EXPECT_TRUE(text.empty());
  for (std::size_t i = 0; i <= capacity; ++i) ASSERT_EQ(storage[i], '\0') << i;
}

TEST(BasicString, ResizeExtraAtInsertsInPlace) {
  string8_t text("abef");
  text.resize_extra_at(2, 2, 'x');
  EXPECT_EQ(text, std::string_view("abxxef"));
}

TEST(BasicString, MoveLeavesTheSourceEmptyAndValid) {
  string8_t source(std::string(30, 'm').c_str());
  string8_t target(std::move(source));
  EXPECT_EQ(target.size(), 30u);
  EXPECT_TRUE(source.empty());
  source = "again";
  EXPECT_EQ(source, std::string_view("again"));
}

}  // namespace
