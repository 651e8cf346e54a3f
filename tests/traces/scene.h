// A manager scenario written down as text, in the order it happened: the
// component's trace records, each call with its result and what it returned,
// the events it published, the policy questions it asked and the storage
// locks it took, and at the end the whole stored tree. What varies with the
// build, the OpenSSL release or the test certificates' fresh keys is masked,
// so the text can be compared with a reviewed transcript.
#pragma once

#include <sstream>
#include <string>

#include "tests/support/manager_fixture.h"
#include "tests/support/time_zone.h"

namespace test {

class Scene : public ManagerTest {
 public:
  void TestBody() override {}

  // Writes what happened since the last entry, then `line`.
  void Print(const std::string& line);
  // Prints "= `what`: 0x%08x" of `result`.
  ozo::result_t Call(const std::string& what, ozo::result_t result);
  // What happened since the last Take, masked.
  std::string Take();
  // The stored tree, masked.
  std::string StoredTree();

  RecordingHost m_old;              // the store an upgrade copies from
  std::size_t m_hostCallsSeen = 0;  // of the fault injector's journal

 private:
  void Drain();

  ScopedTimeZone m_utc{"UTC"};  // event dates are read as local time
  std::ostringstream m_text;
  std::size_t m_events = 0;
  std::size_t m_queries = 0;
  std::uint64_t m_nested = 0;
};

// Text with its unprintable bytes as \xHH.
std::string Printable(std::string_view text);

// A short description of stored bytes: "DER <subject>", "PEM <subject>",
// "PKCS#12", printable text in quotes, or the size.
std::string DescribeBlob(const ozo::blob_t& blob);

}  // namespace test
