#include "ozo/types/basic_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "host/service_host.h"
#include "tests/support/recording_host.h"

namespace {

using ozo::string16_t;
using ozo::string8_t;

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

}  // namespace
