// The built certctl, run as a subprocess on a store in a temporary folder
// that holds sample certificate files.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/support/certificate_builder.h"
#include "tests/support/manager_fixture.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace test {

class CertctlTest : public testing::Test {
 protected:
  CertctlTest() : m_store(m_dir.File("store.db")) {
    Write("edr.der", ValidServerDer("edr.test"));
    Write("edr2.pem", ValidServerPem("edr2.test"));
    Write("expired.der", ExpiredServerDer());
    Write("client.p12", ClientContainer("agent.test", "s3cret"));
    Write("client2.p12", ClientContainer("agent2.test", "s3cret"));
    Write("password", BlobOf("s3cret\n"));
    Write("wrong-password", BlobOf("nope\n"));
    Write("text.txt", BlobOf("not a certificate"));
  }

  std::string Path(const std::string& name) const { return m_dir.File(name); }
  void Write(const std::string& name, const ozo::blob_t& bytes) const;

  // The command line of certctl with `args` on `store`.
  std::vector<std::string> Argv(const std::vector<std::string>& args, const std::string& store) const {
    std::vector<std::string> argv = {CM_CERTCTL_PATH, "--store", store};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }

  // Runs certctl on `store` (the test's store by default); waits for it.
  ProcessResult Run(const std::vector<std::string>& args, const std::string& store = "",
                    const std::vector<std::string>& environment = {}) const {
    return RunProcess(Argv(args, store.empty() ? m_store : store), m_dir.path(), environment);
  }

  std::string ListJson(const std::string& store = "") const { return Run({"list", "--json"}, store).out; }

  TempDir m_dir;
  std::string m_store;
};

inline void CertctlTest::Write(const std::string& name, const ozo::blob_t& bytes) const {
  std::ofstream(Path(name), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace test
