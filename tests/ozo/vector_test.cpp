// The framework's vector: a copy that fails part-way leaves nothing behind.
#include "ozo/types/vector.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// Counts live instances; the copy that makes the `failAt`-th copy throws.
struct Tracked {
  static inline int live = 0;
  static inline int copies = 0;
  static inline int failAt = 0;

  Tracked() { ++live; }
  Tracked(const Tracked&) {
    if (++copies == failAt) throw std::runtime_error("copy refused");
    ++live;
  }
  Tracked(Tracked&&) noexcept { ++live; }
  ~Tracked() { --live; }
};

TEST(Vector, ACopyThatThrowsPartWayDestroysWhatItCopiedAndFreesItsBuffer) {
  {
    ozo::types::vector_t<Tracked> source;
    for (int i = 0; i < 5; ++i) source.push_back(Tracked());
    ASSERT_EQ(Tracked::live, 5);
    Tracked::copies = 0;
    Tracked::failAt = 4;
    EXPECT_THROW(ozo::types::vector_t<Tracked> copy(source), std::runtime_error);
    EXPECT_EQ(Tracked::live, 5);  // the three copies made are gone (the buffer: ASan, valgrind)
  }
  EXPECT_EQ(Tracked::live, 0);
}

}  // namespace
