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

enum class Kind { Server, Client };

class Scene : public ManagerTest {
 public:
  void TestBody() override {}

  // Forgets what happened so far: the transcript starts here.
  void Start();
  // Writes what happened since the last entry, then `line`.
  void Note(const std::string& line);
  ozo::result_t Call(const std::string& what, ozo::result_t result);
  // What happened since Start or the last Take, masked.
  std::string Take();
  // The stored tree, masked.
  std::string StoredTree();

  // The manager's operations, recorded with their results; local changes
  // are made by test::User().
  void Set(Kind kind, ivo::CertificateType type, const ozo::blob_t& blob, const char* password = "pw");
  void SetPolicy(Kind kind, ivo::CertificateType type, const ozo::blob_t& blob, const char* password = "pw");
  void Remove(Kind kind, ivo::CertificateType type);
  void RemovePolicy(Kind kind, ivo::CertificateType type);
  void Get(Kind kind, ivo::CertificateType type);
  void GetPem(ivo::CertificateType type);
  void Query(Kind kind, ivo::CertificateType type);

 private:
  void Drain();

  ScopedTimeZone m_utc{"UTC"};  // event dates are read as local time
  std::ostringstream m_text;
  std::size_t m_events = 0;
  std::size_t m_queries = 0;
  std::uint64_t m_nested = 0;
};

// A short description of stored bytes: "DER <subject>", "PEM <subject>",
// "PKCS#12", printable text in quotes, or the size.
std::string DescribeBlob(const ozo::blob_t& blob);

}  // namespace test
