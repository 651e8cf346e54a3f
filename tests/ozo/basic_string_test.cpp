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

TEST(BasicString, SecureClearZeroesEveryCharacterItCanHold) {
  string8_t text(std::string(40, 's').c_str());
  const char* storage = text.c_str();
  const std::size_t capacity = text.capacity();
  text.secure_clear();
  EXPECT_TRUE(text.empty());
  for (std::size_t i = 0; i <= capacity; ++i) ASSERT_EQ(storage[i], '\0') << i;
}

// A string's own text appended to it: inline (the grow wipes the inline
// buffer) and on the heap (the grow frees the old block).
TEST(BasicString, AppendsItsOwnText) {
  for (const std::size_t length : {10u, 100u}) {
    string8_t text(std::string(length, 'a').c_str());
    text.append(text.data(), text.size());
    text += text.view();
    EXPECT_EQ(text, std::string_view(std::string(4 * length, 'a'))) << length;
  }
}

}  // namespace
