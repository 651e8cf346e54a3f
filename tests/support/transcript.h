// Transcripts: the text a test run writes down, compared with a reviewed copy
// kept as data. A transcript is reviewed once, when it is written; a run that
// differs leaves its own text beside it for the reviewer, and is never copied
// over the reviewed one to make a test pass.
//
// Transcripts take the form of cram tests: lines that are not indented are
// commentary; an indented "$ " or "% " line is a step, and the indented lines
// after it are what the step wrote.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace test {

// The names (without .txt) of the transcripts in `folder`, sorted.
std::vector<std::string> TranscriptNames(const std::string& folder);

// Replays the transcript at `path`: commentary and steps are kept, each step
// followed by what `perform` returns for it ('$' or '%', and the step's
// text); the lines a former run wrote are dropped. Stops at a fatal failure.
std::string Replay(const std::string& path, const std::function<std::string(char mark, const std::string&)>& perform);

// `text` line by line after `mark`; a last line without its line feed is
// marked " (no-eol)".
std::string Indented(const std::string& text, const std::string& mark = "  ");

// Masks what varies with the OpenSSL release or the certificates' fresh keys:
// OpenSSL's error strings and digests, spaced ("AB CD") or in colons
// ("AB:CD"); a digest keeps its length (<sha1>, <sha256>), so one written in
// place of the other still shows. A key's print ("SHA256:12:...:f0", eight
// bytes) becomes <key N>, N counting distinct keys in order of appearance.
std::string MaskVarying(std::string text);

// The words of a step, read strictly: each is one the grammar expects where
// it stands, and nothing is left over. A word may be quoted ("a b"). A step
// that breaks the grammar throws std::invalid_argument naming the step and
// what was expected.
class StepWords {
 public:
  explicit StepWords(const std::string& step);

  std::string Next(const char* what);
  std::string OneOf(const char* what, std::initializer_list<const char*> choices);
  std::uint32_t Number(const char* what);
  // Whether a word is left.
  bool More();
  // Refuses a word left over.
  void End();
  [[noreturn]] void Refuse(const std::string& why) const;

 private:
  std::string m_step;
  std::istringstream m_words;
};

// Fails the test unless the transcript at `path` holds `actual`, showing the
// unified diff (its first 200 lines); then writes `actual` to `path`.actual
// (ignored by git) for review.
void ExpectTranscript(const std::string& actual, const std::string& path);

}  // namespace test
