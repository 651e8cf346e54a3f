// Where certctl's default store is, by user and environment, and the folder
// it makes for it.
#include "tools/certctl/lib/store_path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/temp_dir.h"
#include "tools/certctl/lib/failure.h"

namespace {

using certctl::DefaultStorePath;
using certctl::StoreEnvironment;

struct Case {
  const char* name;
  StoreEnvironment environment;
  const char* expected;  // null: refused as bad usage
};

const Case kCases[] = {
    {"RootUsesTheSystemStoreWhateverHomeSays", {true, "/xdg", "/root"}, CM_SYSTEM_STORE},
    {"RootWithoutHome", {true, nullptr, nullptr}, CM_SYSTEM_STORE},
    {"UserWithXdgDataHome", {false, "/data/ann", "/home/ann"}, "/data/ann/certctl/certificates.db"},
    {"RelativeXdgDataHomeIsIgnored", {false, "data", "/home/ann"}, "/home/ann/.local/share/certctl/certificates.db"},
    {"UserWithHomeOnly", {false, "", "/home/ann"}, "/home/ann/.local/share/certctl/certificates.db"},
    {"HomeIsAPathNotAShellWord",
     {false, nullptr, "/tmp/it's; touch x"},
     "/tmp/it's; touch x/.local/share/certctl/certificates.db"},
    {"UserWithoutHomeMustNameTheStore", {false, nullptr, nullptr}, nullptr},
    {"UserWithAnEmptyHomeMustNameTheStore", {false, "", ""}, nullptr},
};

class DefaultStoreTest : public testing::TestWithParam<Case> {};

TEST_P(DefaultStoreTest, IsWhereTheManPageSays) {
  const Case& c = GetParam();
  if (c.expected) {
    EXPECT_EQ(DefaultStorePath(c.environment), c.expected);
  } else {
    try {
      DefaultStorePath(c.environment);
      ADD_FAILURE() << "a default store without a home";
    } catch (const certctl::Failure& failure) {
      EXPECT_EQ(failure.exitCode, certctl::kExitUsage);
      EXPECT_NE(std::string(failure.what()).find("--store"), std::string::npos) << failure.what();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Environments, DefaultStoreTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// The default store's missing folders are made owner-only whatever the
// umask; a named store's folder is never made.
TEST(DefaultStoreFolder, IsMadeOwnerOnlyForTheDefaultStoreOnly) {
  test::TempDir dir;
  const mode_t previous = ::umask(022);
  certctl::MakeDefaultFolder({dir.File("a/b/certificates.db"), true});
  certctl::MakeDefaultFolder({dir.File("named/certificates.db"), false});
  ::umask(previous);
  for (const char* folder : {"a", "a/b"}) {
    struct stat about {};
    ASSERT_EQ(::stat(dir.File(folder).c_str(), &about), 0) << folder;
    EXPECT_EQ(about.st_mode & 0777, 0700u) << folder;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("named")));
}

}  // namespace
