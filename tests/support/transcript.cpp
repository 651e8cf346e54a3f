#include "tests/support/transcript.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "tests/support/process.h"

namespace test {

std::string MaskVarying(std::string text) {
  static const std::regex kOpenSslError("error:[0-9A-F]{8}:[^\n\"]*");
  static const std::regex kSha256("\\b([0-9A-F]{2} ){31}[0-9A-F]{2}\\b");
  static const std::regex kSha1("\\b([0-9A-F]{2} ){19}[0-9A-F]{2}\\b");
  text = std::regex_replace(text, kOpenSslError, "error:<openssl>");
  text = std::regex_replace(text, kSha256, "<sha256>");
  return std::regex_replace(text, kSha1, "<sha1>");
}

void ExpectTranscript(const std::string& actual, const std::string& path) {
  const std::string expected = ReadWholeFile(path);
  if (actual == expected) return;
  std::ofstream(path + ".actual", std::ios::binary) << actual;
  ADD_FAILURE() << (expected.empty() ? "no transcript at " : "the run differs from ") << path << "; its text is in "
                << path << ".actual: review it before taking it";
}

}  // namespace test
