// The built certctl, run as a subprocess on temporary stores.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/tools/certctl_fixture.h"

namespace {

using test::CertctlTest;
using Outcome = test::ProcessResult;

TEST_F(CertctlTest, ADemoSessionStoresListsReplacesRemovesAndKeepsEvents) {
  EXPECT_EQ(Run({"set-server", "edr", Path("edr.der")}).exit, 0);
  EXPECT_EQ(Run({"set-client", "1", Path("client.p12"), "--password-file", Path("password")}).exit, 0);
  EXPECT_EQ(Run({"set-server", "edr", Path("edr.der")}).exit, 1);  // the same: nothing to do
  const Outcome query = Run({"query-server", "edr"});
  EXPECT_EQ(query.exit, 0);
  EXPECT_EQ(query.out.rfind("{\"Subject\":\"CN=edr.test, O=Test Org\"", 0), 0u) << query.out;
  EXPECT_EQ(Run({"set-server", "EDR", Path("edr2.pem")}).exit, 0);
  EXPECT_EQ(Run({"remove-client", "edr"}).exit, 0);
  EXPECT_EQ(Run({"remove-client", "edr"}).exit, 1);
  const std::string list = ListJson();
  EXPECT_NE(list.find("\"subject\":\"CN=edr2.test, O=Test Org\""), std::string::npos) << list;
  EXPECT_EQ(list.find("\"kind\":\"client\""), std::string::npos) << list;
  const Outcome events = Run({"events", "--json"});
  EXPECT_EQ(events.exit, 0);
  std::size_t count = 0;
  for (std::size_t at = 0; (at = events.out.find("\"event\":", at)) != std::string::npos; ++at) ++count;
  EXPECT_EQ(count, 5u) << events.out;  // added, added, removed+added, removed
  EXPECT_NE(events.out.find("\"IssuingDate\":\"2020-01-01T00:00:00Z\""), std::string::npos) << events.out;
  const Outcome pem = Run({"pem", "1", "--out", Path("out.pem")});
  EXPECT_EQ(pem.exit, 0);
  EXPECT_EQ(test::ReadWholeFile(Path("out.pem")).rfind("-----BEGIN CERTIFICATE-----", 0), 0u);
}

struct BadInput {
  const char* name;
  std::vector<std::string> args;  // {DIR} is replaced by the test directory
  int exit;
  const char* message;
};

class CertctlBadInputTest : public CertctlTest, public testing::WithParamInterface<BadInput> {};

TEST_P(CertctlBadInputTest, GivesOneClearLineANonZeroExitAndNoChange) {
  ASSERT_EQ(Run({"set-server", "ndr", Path("edr.der")}).exit, 0);
  ASSERT_EQ(Run({"policy", "lock", "siem", "server"}).exit, 0);
  const std::string before = ListJson();
  std::vector<std::string> args;
  for (std::string arg : GetParam().args) {
    if (arg.rfind("{DIR}", 0) == 0) arg = m_dir.path() + arg.substr(5);
    args.push_back(arg);
  }
  const Outcome outcome = Run(args);
  EXPECT_EQ(outcome.exit, GetParam().exit) << outcome.err;
  EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
  EXPECT_NE(outcome.err.find(GetParam().message), std::string::npos) << outcome.err;
  EXPECT_EQ(ListJson(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CertctlBadInputTest,
    testing::Values(
        BadInput{"MissingFile", {"set-server", "edr", "{DIR}/missing.der"}, 3, "cannot read"},
        BadInput{"NotACertificate", {"set-server", "edr", "{DIR}/text.txt"}, 2, "0x80000151"},
        BadInput{"WrongPassword",
                 {"set-client", "edr", "{DIR}/client.p12", "--password-file", "{DIR}/wrong-password"},
                 2,
                 "0x80000151"},
        BadInput{"NoPasswordWithoutTerminal", {"set-client", "edr", "{DIR}/client.p12"}, 3, "no password given"},
        BadInput{"UnknownType", {"set-server", "web", "{DIR}/edr.der"}, 3, "unknown certificate type 'web'"},
        BadInput{"TypeOutOfRange", {"set-server", "9", "{DIR}/edr.der"}, 2, "0x80000046 (Invalid argument)"},
        BadInput{"LockedPolicy", {"set-server", "siem", "{DIR}/edr.der"}, 2, "0x80000045 (Access denied)"},
        BadInput{"Expired", {"set-server", "edr", "{DIR}/expired.der"}, 2, "outside its validity period"},
        BadInput{"ReplacingWithAFileThatIsNoCertificate", {"set-server", "ndr", "{DIR}/text.txt"}, 2, "0x80000151"},
        BadInput{"UnknownCommand", {"frobnicate"}, 3, "unknown command"},
        BadInput{"DirectoryAsFile", {"set-server", "edr", "{DIR}"}, 3, "is a directory"},
        BadInput{"DirectoryAsPasswordFile",
                 {"set-client", "edr", "{DIR}/client.p12", "--password-file", "{DIR}"},
                 3,
                 "is a directory"},
        BadInput{"StoreIsNotADatabase", {"--store", "{DIR}/text.txt", "list"}, 4, "the store cannot be used"}),
    [](const testing::TestParamInfo<BadInput>& info) { return info.param.name; });

// The copy adds to what the new store holds: its other certificates stay, and
// a slot both stores hold takes the old store's record and is reported.
TEST_F(CertctlTest, UpgradeKeepsWhatTheNewStoreHoldsAndSaysWhatItReplaced) {
  const std::string fresh = Path("new.db");
  ASSERT_EQ(Run({"set-server", "ndr", Path("edr.der")}).exit, 0);
  ASSERT_EQ(Run({"set-server", "sandbox", Path("edr.der")}).exit, 0);
  ASSERT_EQ(Run({"set-server", "edr", Path("edr2.pem")}, fresh).exit, 0);
  ASSERT_EQ(Run({"set-client", "siem", Path("client.p12"), "--password-env", "CERTCTL_TEST_PASSWORD"}, fresh).exit, 3);
  ASSERT_EQ(Run({"set-client", "siem", Path("client.p12"), "--password-env", "CERTCTL_TEST_PASSWORD"}, fresh,
                {"CERTCTL_TEST_PASSWORD=s3cret"})
                .exit,
            0);
  ASSERT_EQ(Run({"set-server", "sandbox", Path("edr2.pem")}, fresh).exit, 0);
  const Outcome upgrade = Run({"upgrade", "--from", m_store}, fresh);
  EXPECT_EQ(upgrade.exit, 0) << upgrade.err;
  EXPECT_EQ(upgrade.out,
            "sandbox server certificate copied, replacing the one stored\n"
            "ndr server certificate copied\n"
            "certificates copied from " +
                m_store + "\n");
  const std::string list = ListJson(fresh);
  for (const char* kept : {R"("type":"edr","kind":"server","subject":"CN=edr2.test)",
                           R"("type":"siem","kind":"client","subject":"CN=agent.test)",
                           R"("type":"ndr","kind":"server","subject":"CN=edr.test)",
                           R"("type":"sandbox","kind":"server","subject":"CN=edr.test)"})
    EXPECT_NE(list.find(kept), std::string::npos) << kept << " in " << list;
  EXPECT_EQ(Run({"upgrade", "--from", Path("nothing.db")}, fresh).exit, 4);
  EXPECT_EQ(ListJson(fresh), list);
}

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

// The default store's folder is made without a shell: quotes in $HOME are
// only characters of a name.
TEST_F(CertctlTest, TheDefaultStoreFolderIsMadeWithoutAShell) {
  const std::string home = Path("it's; touch pwned; '");
  const Outcome set = test::RunProcess({CM_CERTCTL_PATH, "set-server", "edr", Path("edr.der")}, m_dir.path(),
                                       {"HOME=" + home, "CERTCTL_STORE="});
  EXPECT_EQ(set.exit, 0) << set.err;
  EXPECT_TRUE(std::filesystem::exists(home + "/.local/share/certctl/certificates.db"));
  EXPECT_FALSE(std::filesystem::exists(Path("pwned")));
  EXPECT_FALSE(std::filesystem::exists("pwned"));
}

// Every command and option of the usage text is on the man page.
TEST_F(CertctlTest, TheManPageCoversTheUsageText) {
  const test::ProcessResult help = Run({"--help"});
  ASSERT_EQ(help.exit, 0);
  std::string page = test::ReadWholeFile(CM_MAN_PAGE);
  page.erase(std::remove(page.begin(), page.end(), '\\'), page.end());  // roff escapes: \- is -
  const std::regex word(R"((--[a-z-]+)|^  ([a-z][a-z-]+))", std::regex::multiline);
  int checked = 0;
  for (std::sregex_iterator it(help.out.begin(), help.out.end(), word), end; it != end; ++it, ++checked) {
    const std::string name = (*it)[1].matched ? (*it)[1].str() : (*it)[2].str();
    EXPECT_NE(page.find(name), std::string::npos) << name << " is not on the man page";
  }
  EXPECT_GT(checked, 30);
  EXPECT_EQ(Run({"--version"}).out, "certctl " CM_VERSION "\n");
}

TEST_F(CertctlTest, InspectDescribesAnExpiredFileWithoutAStore) {
  const Outcome outcome = Run({"inspect", Path("expired.der"), "--json"}, Path("unused.db"));
  EXPECT_EQ(outcome.exit, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("\"ExpirationDate\":\"2001-01-01T00:00:00Z\""), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("\"outsideValidityPeriod\":true"), std::string::npos);
  const Outcome client = Run({"inspect", Path("client.p12"), "--password-file", Path("password")});
  EXPECT_EQ(client.exit, 0) << client.err;
  EXPECT_NE(client.out.find("outside its validity period: no"), std::string::npos) << client.out;
  EXPECT_EQ(::access(Path("unused.db").c_str(), F_OK), -1);
}

TEST_F(CertctlTest, TwoToolsWritingAtOnceLeaveOneOfTheirRecords) {
  const std::string out1 = Path("o1"), err1 = Path("e1"), out2 = Path("o2"), err2 = Path("e2");
  const pid_t first = test::SpawnProcess(Argv({"set-server", "edr", Path("edr.der")}, m_store), out1, err1);
  const pid_t second = test::SpawnProcess(Argv({"set-server", "edr", Path("edr2.pem")}, m_store), out2, err2);
  for (int exit : {test::ExitOf(first), test::ExitOf(second)}) EXPECT_TRUE(exit == 0 || exit == 4);
  const std::string list = ListJson();
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
