#include "ozo/error_handling/callstack.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>

#include "tests/support/process.h"

namespace {

using ozo::callstack::FormatLocation;
using ozo::callstack::ParseProcessMaps;

std::string SelfPath() {
  char path[4096];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

// The build id that readelf reports for `path`.
std::string ReadelfBuildId(const std::string& path) {
  const std::string output = test::RunCommand("readelf -n '" + path + "' 2>/dev/null");
  std::smatch match;
  return std::regex_search(output, match, std::regex("Build ID: ([0-9a-f]+)")) ? match[1].str() : std::string();
}

[[gnu::noinline]] void ThrowFromHere() { ozo::ThrowCheckFailed("f", 1, ozo::results::NotFound); }

TEST(CallStack, ResolvesFramesAgainstThisBinaryAndItsBuildId) {
  const std::string self = SelfPath();
  const std::string buildId = ReadelfBuildId(self);
  ASSERT_FALSE(buildId.empty()) << "readelf found no build id in " << self;
  try {
    ThrowFromHere();
  } catch (const ozo::CheckResultFailedException& e) {
    const ozo::ModuleInfo* module = nullptr;
    for (const ozo::ModuleInfo& m : e.data()->modules)
      if (m.path == self) module = &m;
    ASSERT_NE(module, nullptr) << e.what();
    EXPECT_EQ(module->buildId, buildId);
    const std::string text = e.what();
    EXPECT_EQ(text.rfind("f(1): Expression failed. Properties:\nozo.result=0x8000004c\nCall stack:\n 0# ", 0), 0u)
        << text;
    EXPECT_NE(text.find(self + "!" + buildId + "!"), std::string::npos) << text;
    // Every listed module holds one of the frames.
    for (const ozo::ModuleInfo& m : e.data()->modules) {
      bool holds = false;
      for (std::uintptr_t a : e.data()->callStack) holds |= m.base <= a && a < m.base + m.size;
      EXPECT_TRUE(holds) << m.path;
    }
    return;
  }
  FAIL() << "nothing thrown";
}

TEST(CallStack, UnreadableProcessMapReportsAFailedCheckWithoutRecursing) {
  ozo::callstack::SetProcessMapsPathForTesting("/nonexistent/maps");
  try {
    ThrowFromHere();
    FAIL() << "nothing thrown";
  } catch (const ozo::CheckResultFailedException& e) {
    EXPECT_STREQ(e.file(), "component/ozo/error_handling/source/posix/callstack");
    EXPECT_EQ(e.line(), 142);
    EXPECT_EQ(ozo::GetExceptionResult(e), ozo::results::FileNotFound);
    EXPECT_FALSE(e.data()->callStack.empty());
    EXPECT_TRUE(e.data()->modules.empty());  // frames print as bare addresses
  }
  ozo::callstack::SetProcessMapsPathForTesting(nullptr);
}

TEST(ProcessMaps, MergesConsecutiveLinesOfOneFileAndSkipsAnonymousMappings) {
  const auto modules = ParseProcessMaps(
      "1000-2000 r--p 00000000 08:01 42 /lib/a.so\n"
      "2000-3000 r-xp 00001000 08:01 42 /lib/a.so\n"
      "3000-4000 rw-p 00000000 00:00 0 \n"
      "4000-5000 r--p 00000000 08:01 0x2b /lib/b.so\n"
      "5000-6000 rw-p 00000000 00:00 0 [heap]\n");
  ASSERT_EQ(modules.size(), 2u);
  EXPECT_EQ(modules[0].path, "/lib/a.so");
  EXPECT_EQ(modules[0].base, 0x1000u);
  EXPECT_EQ(modules[0].size, 0x2000u);
  EXPECT_EQ(modules[1].path, "/lib/b.so");
  EXPECT_EQ(modules[1].size, 0x1000u);
}

TEST(ProcessMaps, LocationIsModuleBuildIdAndOffsetOrABareAddress) {
  const std::vector<ozo::ModuleInfo> modules = {{"/lib/a.so", "abcd", 0x1000, 0x1000, 0},
                                                {"/lib/b.so", "", 0x8000, 0x1000, 0}};
  EXPECT_EQ(FormatLocation(0x1010, modules), "/lib/a.so!abcd!10");
  EXPECT_EQ(FormatLocation(0x8fff, modules), "/lib/b.so!!fff");
  EXPECT_EQ(FormatLocation(0x7f3a12c0, modules), "7f3a12c0");
  EXPECT_EQ(FormatLocation(0x5000, modules), "5000");
}

}  // namespace
