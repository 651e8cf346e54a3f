// The built library as any host sees it.
#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "tests/support/process.h"

namespace {

TEST(SharedLibrary, ExportsExactlyTheTwoEntryPoints) {
  std::istringstream symbols(test::RunCommand("nm -D --defined-only '" CM_LIBRARY_PATH "'"));
  std::set<std::string> exported;
  for (std::string line; std::getline(symbols, line);) {
    const std::string name = line.substr(line.rfind(' ') + 1);
    if (!name.empty()) exported.insert(name);
  }
  EXPECT_EQ(exported, (std::set<std::string>{"ozoCanUnloadModule", "ozoCreateObject"}));
}

TEST(SharedLibrary, NeedsNoTlsLibrary) {
  const std::string dynamic = test::RunCommand("readelf -d '" CM_LIBRARY_PATH "'");
  ASSERT_NE(dynamic.find("NEEDED"), std::string::npos);
  EXPECT_EQ(dynamic.find("libssl"), std::string::npos) << dynamic;
}

}  // namespace
