#include "tests/support/transcript.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "tests/support/process.h"

namespace test {

std::vector<std::string> TranscriptNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().extension() == ".txt") names.push_back(entry.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Replay(const std::string& path, const std::function<std::string(char mark, const std::string&)>& perform) {
  std::istringstream transcript(ReadWholeFile(path));
  std::string replayed;
  for (std::string line; std::getline(transcript, line) && !testing::Test::HasFatalFailure();) {
    if (line.rfind("  $ ", 0) == 0 || line.rfind("  % ", 0) == 0)
      replayed += line + "\n" + perform(line[2], line.substr(4));
    else if (line.rfind("  ", 0) != 0)
      replayed += line + "\n";
  }
  return replayed;
}

std::string Indented(const std::string& text, const std::string& mark) {
  std::string out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) out += mark + line + "\n";
  if (!text.empty() && text.back() != '\n') out.insert(out.size() - 1, " (no-eol)");
  return out;
}

std::string MaskVarying(std::string text) {
  static const std::regex kOpenSslError("error:[0-9A-F]{8}:[^\n\"]*");
  static const std::regex kSha256("\\b([0-9A-F]{2}[ :]){31}[0-9A-F]{2}\\b");
  static const std::regex kSha1("\\b([0-9A-F]{2}[ :]){19}[0-9A-F]{2}\\b");
  text = std::regex_replace(text, kOpenSslError, "error:<openssl>");
  text = std::regex_replace(text, kSha256, "<sha256>");
  text = std::regex_replace(text, kSha1, "<sha1>");
  // Keys made afresh in each run, numbered by first appearance, so that a
  // transcript still shows which key is the same as which.
  static const std::regex kKeyPrint("SHA256(:[0-9a-f]{2}){8}");
  std::vector<std::string> seen;
  std::string out;
  auto copied = text.cbegin();
  for (std::sregex_iterator it(text.begin(), text.end(), kKeyPrint), end; it != end; ++it) {
    auto known = std::find(seen.begin(), seen.end(), it->str());
    if (known == seen.end()) known = seen.insert(seen.end(), it->str());
    out.append(copied, (*it)[0].first);
    out += "<key " + std::to_string(known - seen.begin() + 1) + ">";
    copied = (*it)[0].second;
  }
  return out.append(copied, text.cend());
}

StepWords::StepWords(const std::string& step) : m_step(step), m_words(step) {}

std::string StepWords::Next(const char* what) {
  std::string word;
  if (!(m_words >> std::quoted(word))) Refuse(std::string("a ") + what + " is missing");
  return word;
}

std::string StepWords::OneOf(const char* what, std::initializer_list<const char*> choices) {
  const std::string word = Next(what);
  for (const char* choice : choices)
    if (word == choice) return word;
  Refuse("'" + word + "' is no " + what);
}

std::uint32_t StepWords::Number(const char* what) {
  const std::string word = Next(what);
  if (word.empty() || word.size() > 10 || word.find_first_not_of("0123456789") != std::string::npos ||
      std::stoull(word) > UINT32_MAX)
    Refuse("'" + word + "' is no " + what);
  return static_cast<std::uint32_t>(std::stoull(word));
}

bool StepWords::More() {
  m_words >> std::ws;
  return !m_words.eof();
}

void StepWords::End() {
  if (More()) Refuse("'" + Next("word") + "' is one word too many");
}

void StepWords::Refuse(const std::string& why) const { throw std::invalid_argument("step '" + m_step + "': " + why); }

void ExpectTranscript(const std::string& actual, const std::string& path) {
  const std::string expected = ReadWholeFile(path);
  if (actual == expected) return;
  std::ofstream(path + ".actual", std::ios::binary) << actual;
  const std::string diff = RunCommand("diff -u '" + path + "' '" + path + ".actual' | head -200");
  ADD_FAILURE() << (expected.empty() ? "no transcript at " : "the run differs from ") << path << "; its text is in "
                << path << ".actual: review it before taking it\n"
                << diff;
}

}  // namespace test
