// Passwords never reach released memory: every block the process frees while
// the manager works is scanned for the password's bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/free_observer.h"
#include "tests/support/manager_fixture.h"

namespace {

// Long enough to live on the heap inside the framework string.
const char kLongPassword[] = "Zq8#secret-marker-9Kp2!";
const char kShortPassword[] = "Sh0rt#7";

TEST(FreeObserver, SeesAnUnwipedBlock) {
  char* copy = static_cast<char*>(std::malloc(64));
  std::memcpy(copy, kLongPassword, sizeof(kLongPassword));
  asm volatile("" : : "r"(copy) : "memory");  // the block must really exist
  test::StartWatchingFrees(kLongPassword, sizeof(kLongPassword) - 1);
  std::free(copy);
  EXPECT_EQ(test::StopWatchingFrees(), 1);
}

// A framework string gives up the buffer it outgrows wiped: a secret that
// grows (a password read piece by piece) leaves no copy in freed memory.
TEST(FreeObserver, AGrowingStringLeavesNoCopyBehind) {
  test::StartWatchingFrees(kLongPassword, sizeof(kLongPassword) - 1);
  {
    ozo::string8_t text(kLongPassword);
    text.append(std::string(100, '.').c_str(), 100);
    text.append(std::string(1000, '.').c_str(), 1000);
    text.secure_clear();
  }
  EXPECT_EQ(test::StopWatchingFrees(), 0);
}

class SecretsTest : public test::ManagerTest, public testing::WithParamInterface<const char*> {};

TEST_P(SecretsTest, NoReleasedBlockEverHoldsThePassword) {
  const char* password = GetParam();
  const ozo::blob_t first = test::ClientContainer("first", password);
  const ozo::blob_t second = test::ClientContainer("second", password);
  StoreClient(*ivo::PeerType::From(1), first, password);  // read at start-up
  test::StartWatchingFrees(password, std::strlen(password));
  {
    CreateOrFail();
    ASSERT_EQ(SetClient(2, first, password), 0);                     // built during a change
    ASSERT_EQ(SetClient(2, second, password), 0);                    // old record read and replaced
    EXPECT_EQ(SetClient(2, second, password), ozo::results::False);  // equal record read
    ASSERT_FALSE(QueryClient(2).empty());                            // read by a query
    {
      ivo::ClientCertificate read;
      ASSERT_EQ(manager().GetClientCertificate(2, read), 0);
    }
    ASSERT_EQ(RemoveClient(2), 0);
    ASSERT_EQ(manager().RemovePolicyClientCertificate(1), 0);
    Destroy();
  }
  EXPECT_EQ(test::StopWatchingFrees(), 0);
}

INSTANTIATE_TEST_SUITE_P(Passwords, SecretsTest, testing::Values(kLongPassword, kShortPassword));

}  // namespace
