// The built certctl, run as a subprocess on temporary stores.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "tests/support/certificate_builder.h"
#include "tests/support/manager_fixture.h"

extern char** environ;

namespace {

struct Outcome {
  int exit;
  std::string out;
  std::string err;
};

std::string Slurp(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

class CertctlTest : public testing::Test {
 protected:
  CertctlTest() {
    char pattern[] = "/tmp/certctl-test-XXXXXX";
    m_dir = ::mkdtemp(pattern);
    m_store = m_dir + "/store.db";
    Write("edr.der", test::ValidServerDer("edr.test"));
    Write("edr2.pem", test::ValidServerPem("edr2.test"));
    Write("expired.der", test::ExpiredServerDer());
    Write("client.p12", test::ClientContainer("agent.test", "s3cret"));
    Write("password", test::BlobOf("s3cret\n"));
    Write("wrong-password", test::BlobOf("nope\n"));
    Write("text.txt", test::BlobOf("not a certificate"));
  }
  ~CertctlTest() override { std::system(("rm -rf '" + m_dir + "'").c_str()); }

  std::string Path(const std::string& name) const { return m_dir + "/" + name; }
  void Write(const std::string& name, const ozo::blob_t& bytes) const {
    std::ofstream(Path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  std::vector<std::string> Argv(const std::vector<std::string>& args, const std::string& store) const {
    std::vector<std::string> argv = {CM_CERTCTL_PATH, "--store", store};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }

  // Runs certctl on `store` (the test's store by default); waits for it.
  Outcome Run(const std::vector<std::string>& args, const std::string& store = "") const {
    const std::string out = Path("stdout"), err = Path("stderr");
    const pid_t pid = Spawn(Argv(args, store.empty() ? m_store : store), out, err);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
  }

  pid_t Spawn(const std::vector<std::string>& args, const std::string& out, const std::string& err) const {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  std::string ListJson(const std::string& store = "") const { return Run({"list", "--json"}, store).out; }

  std::string m_dir;
  std::string m_store;
};

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
  EXPECT_EQ(Slurp(Path("out.pem")).rfind("-----BEGIN CERTIFICATE-----", 0), 0u);
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
    if (arg.rfind("{DIR}", 0) == 0) arg = m_dir + arg.substr(5);
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
        BadInput{"StoreIsNotADatabase", {"--store", "{DIR}/text.txt", "list"}, 4, "the store cannot be used"}),
    [](const testing::TestParamInfo<BadInput>& info) { return info.param.name; });

TEST_F(CertctlTest, UpgradeCopiesAnOldStoreIntoANewOne) {
  ASSERT_EQ(Run({"set-server", "sandbox", Path("edr.der")}).exit, 0);
  ASSERT_EQ(Run({"set-client", "siem", Path("client.p12"), "--password-env", "CERTCTL_TEST_PASSWORD"}).exit, 3);
  ::setenv("CERTCTL_TEST_PASSWORD", "s3cret", 1);
  ASSERT_EQ(Run({"set-client", "siem", Path("client.p12"), "--password-env", "CERTCTL_TEST_PASSWORD"}).exit, 0);
  const std::string fresh = Path("new.db");
  EXPECT_EQ(Run({"upgrade", "--from", m_store}, fresh).exit, 0);
  EXPECT_EQ(ListJson(fresh), ListJson());
  EXPECT_EQ(Run({"upgrade", "--from", Path("nothing.db")}, fresh).exit, 4);
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
  const pid_t first = Spawn(Argv({"set-server", "edr", Path("edr.der")}, m_store), out1, err1);
  const pid_t second = Spawn(Argv({"set-server", "edr", Path("edr2.pem")}, m_store), out2, err2);
  int status1 = 0, status2 = 0;
  ::waitpid(first, &status1, 0);
  ::waitpid(second, &status2, 0);
  for (int status : {status1, status2}) EXPECT_TRUE(WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 4);
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
    const pid_t pid = Spawn(Argv(changes[round % changes.size()], m_store), Path("o"), Path("e"));
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    killedMidway += WIFSIGNALED(status) ? 1 : 0;
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
