// The built certctl, run as a subprocess on temporary stores, where a
// session transcript cannot show it: as another user, at once, and killed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "tests/tools/certctl_fixture.h"

namespace {

using test::CertctlTest;
using Outcome = test::ProcessResult;

// A store this user may only read: reads work, a change is refused as the
// store's (not the policy's) with exit 4, and the file stays as it was.
TEST_F(CertctlTest, AReadOnlyStoreServesReadsAndRefusesChangesUntouched) {
  ASSERT_EQ(Run({"set-server", "edr", Path("edr.der")}).exit, 0);
  std::vector<std::string> asOther;
  if (::geteuid() == 0) {
    if (test::RunProcess({"/usr/sbin/runuser", "-u", "nobody", "--", "/usr/bin/test", "-x", CM_CERTCTL_PATH},
                         m_dir.path())
            .exit != 0)
      GTEST_SKIP() << "the user nobody cannot run " << CM_CERTCTL_PATH << " from here";
    asOther = {"/usr/sbin/runuser", "-u", "nobody", "--"};
    ::chmod(m_dir.path().c_str(), 0755);
  }
  ::chmod(m_store.c_str(), 0444);
  const std::string before = test::ReadWholeFile(m_store);
  auto runAsOther = [&](const std::vector<std::string>& args) {
    std::vector<std::string> argv = asOther;
    for (const std::string& arg : Argv(args, m_store)) argv.push_back(arg);
    return test::RunProcess(argv, m_dir.path());
  };
  const Outcome query = runAsOther({"query-server", "edr"});
  EXPECT_EQ(query.exit, 0) << query.err;
  EXPECT_NE(query.out.find("CN=edr.test"), std::string::npos) << query.out;
  for (const std::vector<std::string>& change : std::vector<std::vector<std::string>>{
           {"remove-server", "edr"}, {"set-server", "ndr", Path("edr.der")}, {"policy", "lock", "edr", "server"}}) {
    const Outcome refused = runAsOther(change);
    EXPECT_EQ(refused.exit, 4) << change[0] << ": " << refused.err;
    EXPECT_NE(refused.err.find("the store cannot be used"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.err.find("policy"), std::string::npos) << refused.err;
  }
  EXPECT_EQ(test::ReadWholeFile(m_store), before);
}

TEST_F(CertctlTest, TwoToolsWritingAtOnceLeaveOneOfTheirRecords) {
  const std::string out1 = Path("o1"), err1 = Path("e1"), out2 = Path("o2"), err2 = Path("e2");
  const pid_t first = test::SpawnProcess(Argv({"set-server", "edr", Path("edr.der")}, m_store), out1, err1);
  const pid_t second = test::SpawnProcess(Argv({"set-server", "edr", Path("edr2.pem")}, m_store), out2, err2);
  for (int exit : {test::ExitOf(first), test::ExitOf(second)}) EXPECT_TRUE(exit == 0 || exit == 4);
  const std::string list = Run({"list", "--json"}).out;
  EXPECT_TRUE(list.find("CN=edr.test") != std::string::npos || list.find("CN=edr2.test") != std::string::npos) << list;
}

// A process killed at any point of a change leaves a store that opens, in
// which the slot holds the old or the new record, never a damaged one.
TEST_F(CertctlTest, SigkillAtRandomPointsNeverDamagesTheStore) {
  std::mt19937 random(12345);
  const std::vector<std::vector<std::string>> changes = {
      {"set-server", "edr", Path("edr.der")},
      {"set-server", "edr", Path("edr2.pem")},
      {"set-client", "edr", Path("client.p12"), "--password-file", Path("password")},
      {"remove-client", "edr"},
  };
  int killedMidway = 0;
  for (int round = 0; round < 100; ++round) {
    const pid_t pid = test::SpawnProcess(Argv(changes[round % changes.size()], m_store), Path("o"), Path("e"));
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
    ::kill(pid, SIGKILL);
    killedMidway += test::ExitOf(pid) == -1 ? 1 : 0;
    const Outcome server = Run({"query-server", "edr"});
    ASSERT_TRUE(server.exit == 0 || server.exit == 1) << "round " << round << ": " << server.err;
    if (server.exit == 0) {
      ASSERT_TRUE(server.out.find("CN=edr.test") != std::string::npos ||
                  server.out.find("CN=edr2.test") != std::string::npos)
          << server.out;
    }
    const Outcome client = Run({"query-client", "edr"});
    ASSERT_TRUE(client.exit == 0 || client.exit == 1) << "round " << round << ": " << client.err;
  }
  EXPECT_GT(killedMidway, 10);  // the kills did land inside runs
}

}  // namespace
