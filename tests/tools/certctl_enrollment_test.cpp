// What the enrollment transcript cannot show: where the pending key and the
// container's random password are never found (files, open descriptors,
// released memory). Request, install and renew killed at random moments are
// in certctl_kill_test.cpp.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "tests/tools/enrollment_fixture.h"

namespace {

using test::Enrollment;
namespace fs = std::filesystem;

bool Holds(const std::string& file, const std::string& secret) {
  std::error_code error;
  if (!fs::is_regular_file(file, error) || fs::file_size(file, error) > (64u << 20)) return false;
  const std::string bytes = test::ReadWholeFile(file);
  return bytes.find(secret) != std::string::npos;
}

// Files under `folder` (not below it when `deep` is false) that hold `secret`.
std::vector<std::string> FilesHolding(const std::string& folder, const std::string& secret, bool deep) {
  std::vector<std::string> found;
  std::error_code error;
  const auto options = fs::directory_options::skip_permission_denied;
  if (deep) {
    for (fs::recursive_directory_iterator it(folder, options, error), end; it != end; it.increment(error))
      if (Holds(it->path(), secret)) found.push_back(it->path());
  } else {
    for (fs::directory_iterator it(folder, options, error), end; it != end; it.increment(error))
      if (Holds(it->path(), secret)) found.push_back(it->path());
  }
  return found;
}

// The pending key lives in the store and nowhere else: not in a file of the
// folder or of /tmp, not in a file the process had open; once installed or
// dropped, not in the store file either (its pages are overwritten), and the
// store stays owner-only throughout.
TEST_F(Enrollment, ThePendingKeyIsFoundNowhereButInTheStore) {
  std::set<std::string> opened;
  const pid_t pid = test::SpawnProcess(
      Argv({"request", "edr", "--subject", "CN=agent.test", "-o", Path("r.csr")}, m_store), Path("o"), Path("e"));
  const std::string descriptors = "/proc/" + std::to_string(pid) + "/fd";
  for (int status = 0; ::waitpid(pid, &status, WNOHANG) == 0;) {
    std::error_code error;
    for (fs::directory_iterator it(descriptors, error), end; !error && it != end; it.increment(error))
      if (const fs::path target = fs::read_symlink(it->path(), error); !error) opened.insert(target.string());
  }
  const std::string secret = PendingSecret();
  ASSERT_EQ(secret.size(), 32u);
  for (const std::string& file : opened) {
    EXPECT_EQ(file.find("(deleted)"), std::string::npos) << "certctl request had a file open that is gone: " << file;
    EXPECT_TRUE(file == m_store || !Holds(file, secret)) << file << " holds the key";
  }
  EXPECT_EQ(FilesHolding(m_dir.path(), secret, true), std::vector<std::string>{m_store});
  EXPECT_EQ(FilesHolding("/tmp", secret, false), std::vector<std::string>{});
  EXPECT_EQ(fs::status(m_store).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

  Sign("r.csr", "r.crt");
  ASSERT_EQ(Run({"install", "edr", Path("r.crt"), "--trusted", Path("issuing.pem")}).exit, 0);
  EXPECT_EQ(FilesHolding(m_dir.path(), secret, true), std::vector<std::string>{});
  ASSERT_EQ(Run({"request", "edr", "-o", Path("r.csr")}).exit, 0);
  const std::string next = PendingSecret();
  ASSERT_EQ(Run({"request", "edr", "--cancel"}).exit, 0);
  EXPECT_EQ(FilesHolding(m_dir.path(), next, true), std::vector<std::string>{});
  EXPECT_EQ(fs::status(m_store).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

// request and install wipe the key and the container's random password
// before they release the memory that held them, on the way in and out of
// the store alike.
TEST_F(Enrollment, NoReleasedBlockHoldsThePendingKeyOrTheRandomPassword) {
#ifndef CM_FREE_WATCH_PATH
  GTEST_SKIP() << "needs a build without sanitizers (they replace free)";
#else
  const auto released = [&](const std::vector<std::string>& arguments, const std::string& dump) {
    const test::ProcessResult run = test::RunProcess(Argv(arguments, m_store), m_dir.path(),
                                                     {"LD_PRELOAD=" CM_FREE_WATCH_PATH, "CM_DUMP_FREES=" + dump});
    EXPECT_EQ(run.exit, 0) << run.err;
    return test::ReadWholeFile(dump);
  };
  // The dump sees what a process releases unwiped.
  const std::string marker = "Zq8#enrollment-marker-9Kp2!";
  Write("marker", test::BlobOf(marker + "\n"));
  EXPECT_EQ(test::RunProcess({"bash", "-c", "cd '" + m_dir.path() + "' && read -r x < marker; unset x"}, m_dir.path(),
                             {"LD_PRELOAD=" CM_FREE_WATCH_PATH, "CM_DUMP_FREES=" + Path("control")})
                .exit,
            0);
  EXPECT_NE(test::ReadWholeFile(Path("control")).find(marker), std::string::npos);

  const std::string requested =
      released({"request", "edr", "--subject", "CN=agent.test", "-o", Path("r.csr")}, Path("request.frees"));
  const std::string key = PendingSecret();
  ASSERT_EQ(key.size(), 32u);
  EXPECT_EQ(requested.find(key), std::string::npos) << "request released the key unwiped";
  Sign("r.csr", "r.crt");
  const std::string installed =
      released({"install", "edr", Path("r.crt"), "--trusted", Path("issuing.pem")}, Path("install.frees"));
  EXPECT_EQ(installed.find(key), std::string::npos) << "install released the key unwiped";
  const test::ProcessResult shown = Run({"get-client", "edr", "-o", Path("got.p12"), "--show-password"});
  ASSERT_EQ(shown.out.rfind("password: ", 0), 0u) << shown.out;
  const std::string password = shown.out.substr(10, 64);
  ASSERT_EQ(password.size(), 64u);
  EXPECT_EQ(installed.find(password), std::string::npos) << "install released the password unwiped";
#endif
}

}  // namespace
