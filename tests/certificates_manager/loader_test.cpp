// The built library as any host sees it.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "host/service_host.h"
#include "ozo/module.h"
#include "tests/support/loaded_library.h"
#include "tests/support/process.h"
#include "tests/support/recording_host.h"

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

TEST(SharedLibrary, LoadsCreatesNothingForAnUnknownClassAndMayUnload) {
  test::LoadedLibrary library;
  ASSERT_TRUE(library) << ::dlerror();
  EXPECT_EQ(library.canUnload(), 0);
  test::RecordingHost host;
  ozo::IObject* object = nullptr;
  EXPECT_EQ(library.create(0x12345678, host.locatorAddress(), &object), ozo::results::ClassNotFound);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(library.canUnload(), 0);
}

}  // namespace
