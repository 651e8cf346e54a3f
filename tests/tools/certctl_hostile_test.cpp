// certctl against files, processes and resolvers that work against it: a
// backup that carries code or damage, an abort while a password is held, a
// resolver that never answers. (Kills are in certctl_kill_test.cpp.)
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/loopback_peers.h"
#include "tests/tools/certctl_fixture.h"

namespace {

using test::CertctlTest;
using Outcome = test::ProcessResult;

void Sql(const std::string& file, const std::string& statements) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, statements.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

class HostileInput : public CertctlTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(Run({"set-server", "edr", Path("edr.der")}).exit, 0);
    ASSERT_EQ(Run({"set-client", "edr", Path("client.p12"), "--password-file", Path("password")}).exit, 0);
  }

  // What a run that waits on nothing costs here and now, in seconds: the
  // bounds below allow a --timeout, a second, and twice this, so that a
  // sanitized build on a busy machine keeps them while a run that waits a
  // second fetch or a resolver's retry still breaks them.
  double ProcessCost() {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Run({"list"}).exit, 0);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
};

// A backup is data: one that brings code (a trigger, a view), that would run
// without end or fill memory when read, or that is damaged is refused by
// restore and upgrade alike, at once and in little memory, and the store
// stays as it was.
TEST_F(HostileInput, BackupsThatCarryCodeOrDamageAreRefusedQuicklyAndUnused) {
  const struct {
    const char* name;
    const char* sql;  // turns a good backup into this one
    const char* why;  // in what certctl says
  } kBackups[] = {
      {"trigger", "CREATE TRIGGER steal AFTER INSERT ON node_values BEGIN DELETE FROM locked_settings; END;",
       "a trigger steal of its own"},
      {"view", "ALTER TABLE trees RENAME TO old_trees; CREATE VIEW trees AS SELECT * FROM old_trees;",
       "a table old_trees of its own"},
      {"endless view",
       "DROP TABLE trees; CREATE VIEW trees(class_id, root) AS WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL "
       "SELECT i + 1 FROM r) SELECT i, i FROM r;",
       "a view trees of its own"},
      {"zeroblob view",
       "DROP TABLE node_values; CREATE VIEW node_values(id, node, name, tag, scalar, data) AS "
       "SELECT 1, 1, 'certificate', 3, 0, zeroblob(900000000);",
       "a view node_values of its own"},
      {"corrupt page", "", "is damaged"},
  };
  ASSERT_EQ(Run({"backup", Path("good.db")}).exit, 0);
  const std::string before = test::ReadWholeFile(m_store);
  // 50 MB in a plain build, where certctl itself takes about 8; sanitizers
  // add their own shadow memory to both.
  const long memoryBound = Run({"list"}).maxRssKiB + 42 * 1024;
  for (const auto& backup : kBackups) {
    const std::string file = Path(std::string(backup.name) + ".db");
    std::filesystem::copy_file(Path("good.db"), file);
    if (*backup.sql) {
      Sql(file, backup.sql);
    } else {  // 2,000 bytes of 0xFF over the first page of the trees
      std::fstream damage(file, std::ios::in | std::ios::out | std::ios::binary);
      damage.seekp(4096);
      damage << std::string(2000, '\xFF');
    }
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"restore", file}, std::vector<std::string>{"upgrade", "--from", file}}) {
      const Outcome refused = Run(command);
      EXPECT_NE(refused.exit, 0) << backup.name << ", " << command[0];
      EXPECT_NE(refused.err.find(backup.why), std::string::npos)
          << backup.name << ", " << command[0] << ": " << refused.err;
      EXPECT_LT(refused.seconds, 1.0) << backup.name << ", " << command[0];
      EXPECT_LT(refused.maxRssKiB, memoryBound) << backup.name << ", " << command[0];
      EXPECT_TRUE(test::ReadWholeFile(m_store) == before) << backup.name << ", " << command[0] << " changed the store";
    }
  }
  EXPECT_EQ(Run({"restore", Path("good.db")}).exit, 0);  // the good one still restores
}

// A client certificate that is removed or replaced leaves neither its
// password nor its container's bytes in the store file or beside it.
TEST_F(HostileInput, ARemovedOrReplacedContainerLeavesNoTraceInTheStore) {
  const std::string container = test::ReadWholeFile(Path("client.p12"));
  const std::string sample = container.substr(container.size() / 2, 48);
  const auto traces = [&] {
    std::string found;
    for (const std::string& name : test::Entries(m_dir.path(), "store.db")) {
      const std::string bytes = test::ReadWholeFile(Path(name));
      if (bytes.find("s3cret") != std::string::npos) found += name + " holds the password; ";
      if (bytes.find(sample) != std::string::npos) found += name + " holds the container; ";
    }
    return found;
  };
  ASSERT_NE(traces(), "");  // what is looked for is there while stored
  ASSERT_EQ(Run({"remove-client", "edr"}).exit, 0);
  EXPECT_EQ(traces(), "");
  ASSERT_EQ(Run({"set-client", "edr", Path("client.p12"), "--password-file", Path("password")}).exit, 0);
  ASSERT_EQ(Run({"set-client", "edr", Path("client2.p12"), "--password-file", Path("password")}).exit, 0);
  EXPECT_EQ(traces().find("container"), std::string::npos) << traces();
}

// An abort while certctl holds a password (it waits for a store another
// process has locked) leaves no core that holds it, whatever the core limit.
TEST_F(HostileInput, AnAbortWhileAPasswordIsHeldLeavesItInNoCore) {
  sqlite3* lock = nullptr;
  ASSERT_EQ(sqlite3_open(m_store.c_str(), &lock), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(lock, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  const std::string command = "ulimit -c unlimited && exec '" CM_CERTCTL_PATH "' --store '" + m_store +
                              "' set-client ndr '" + Path("client.p12") + "' --password-file '" + Path("password") +
                              "'";
  const pid_t waiting =
      test::SpawnProcess({"/bin/sh", "-c", "cd '" + m_dir.path() + "' && " + command}, Path("o"), Path("e"));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the password is read; the store is awaited
  const std::string limits = test::ReadWholeFile("/proc/" + std::to_string(waiting) + "/limits");
  EXPECT_NE(limits.find("Max core file size        0                    0"), std::string::npos) << limits;
  ::kill(waiting, SIGABRT);
  EXPECT_EQ(test::ExitOf(waiting), -1);
  sqlite3_exec(lock, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(lock);
  for (const std::string& name : test::Entries(m_dir.path(), "core"))
    EXPECT_EQ(test::ReadWholeFile(Path(name)).find("s3cret"), std::string::npos) << name << " holds the password";
}

// --timeout bounds the name lookup too: in a network namespace whose only
// resolver never answers, probe and metrics end within it.
TEST_F(HostileInput, ANameWhoseResolverNeverAnswersEndsWithinTheTimeout) {
  if (test::RunProcess({"/usr/bin/unshare", "--net", "--mount", "true"}, m_dir.path()).exit != 0)
    GTEST_SKIP() << "no network namespace can be made here (unshare needs root)";
  std::ofstream(Path("resolv.conf")) << "nameserver 127.0.0.1\noptions timeout:5 attempts:2\n";
  // It says when it is bound: a lookup before that would be refused at once.
  // Only the resolver runs in the background; it is stopped after the run.
  const std::string silentResolver =
      "{ python3 -c 'import socket, time; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); "
      "s.bind((\"127.0.0.1\", 53)); open(\"bound\", \"w\").close(); time.sleep(30)' & } ; resolver=$!; "
      "for i in $(seq 200); do [ -e bound ] && break; sleep 0.05; done; [ -e bound ] || { echo 'no resolver' >&2; exit "
      "1; };";
  const std::pair<std::string, std::string> kRuns[] = {
      {"probe edr slowdns.example:443 --timeout 2", "no answer from the resolver within 2 s"},
      {"metrics --probe edr=slowdns.example:443 --timeout 2",
       "probe_success{type=\"edr\",target=\"slowdns.example:443\"} 0"}};
  const double bound = 2 + 1 + 2 * ProcessCost();
  for (const auto& [command, said] : kRuns) {
    // certctl's own time, taken in the namespace once the resolver is up.
    const std::string script = "ip link set lo up && mount --bind resolv.conf /etc/resolv.conf && rm -f bound && " +
                               silentResolver + " start=$(date +%s%N); '" CM_CERTCTL_PATH "' --store '" + m_store +
                               "' " + command +
                               "; echo \"took $(( ($(date +%s%N) - start) / 1000000 )) ms\"; kill $resolver";
    const Outcome run = test::RunProcess(
        {"/usr/bin/unshare", "--net", "--mount", "/bin/sh", "-c", "cd '" + m_dir.path() + "' && " + script},
        m_dir.path());
    const std::size_t took = run.out.rfind("took ");
    ASSERT_NE(took, std::string::npos) << run.out << run.err;
    EXPECT_LT(std::stol(run.out.substr(took + 5)), bound * 1000) << command;
    EXPECT_NE((run.out + run.err).find(said), std::string::npos) << command << ": " << run.out << run.err;
  }
}

// Words from outside (a CA's status string, an HTTP reason phrase) reach
// the terminal with their controls escaped on every path, the failures'
// too: no title set, no colour, no text reordered.
TEST_F(HostileInput, ControlsFromACaOrAnHttpServerReachNoTerminalRaw) {
  const std::string evil =
      "\x1b]0;owned\x07\x1b[31mred\xe2\x80\xae"
      "txt";
  test::LoopbackPeers peers;
  const std::string ca = peers.Cmp({"-srv_ref", "1", "-srv_secret", "pass:x", "-rsp_cert", "web.pem", "-pkistatus", "2",
                                    "-failure", "2", "-statusstring", evil},
                                   m_dir.path());
  const std::string http = peers.Hostile("status", "503 " + evil);
  const std::string peer = peers.Serve({"-cert", "peer.pem", "-key", "peer.key"}, m_dir.path());
  Write("secret", test::BlobOf("x\n"));
  ASSERT_EQ(Run({"set-server", "sandbox", Path("ca.pem")}).exit, 0);
  const std::vector<std::string> kRuns[] = {
      {"enroll", "ndr", "--server", ca, "--reference", "1", "--secret-file", Path("secret"), "--subject", "CN=x",
       "--trusted", Path("ca.pem")},
      {"check", "--crl", "http://" + http + "/ca.crl"},
      {"probe", "sandbox", peer, "--crl", "http://" + http + "/ca.crl"},
  };
  for (const std::vector<std::string>& command : kRuns) {
    const Outcome run = Run(command);
    const std::string said = run.out + run.err;
    SCOPED_TRACE(command.front() + ": " + said);
    EXPECT_NE(said.find("\\x1b]0;owned\\x07\\x1b[31mred\\u202etxt"), std::string::npos);
    EXPECT_EQ(said.find('\x1b'), std::string::npos);
    EXPECT_EQ(said.find('\x07'), std::string::npos);
    EXPECT_EQ(said.find("\xe2\x80\xae"), std::string::npos);
  }
}

// --timeout bounds the whole run, not each fetch: a probe whose peer names
// two CRL distribution points that never answer ends within it (the
// process's own cost aside), and one that refuses says so at once.
TEST_F(HostileInput, TheTimeoutBoundsEveryFetchOfARunTogether) {
  test::LoopbackPeers peers;
  const std::string first = peers.Silent(), second = peers.Silent(), refused = peers.Unused();
  test::CertificateParams ca = Valid(-1, 365, "Probe CA");
  ca.key = test::KeyType::Rsa2048;
  test::CertificateParams leaf = Valid(-1, 60, "probe.test");
  leaf.issuer = ca.subject;
  leaf.signer = ca.key;
  leaf.serial = {0x42};
  leaf.extensions = {{"subjectAltName", "IP:127.0.0.1"},
                     {"crlDistributionPoints", "URI:http://" + first + "/a.crl,URI:http://" + second + "/b.crl"}};
  Write("silent-dp.pem", test::MakePem(leaf));
  const std::string peer = peers.Serve({"-cert", "silent-dp.pem", "-key", "peer.key"}, m_dir.path());
  ASSERT_EQ(Run({"set-server", "sandbox", Path("ca.pem")}).exit, 0);
  const struct {
    std::vector<std::string> command;
    double timeout;
    const char* said;
  } kRuns[] = {
      {{"probe", "sandbox", peer, "--crl", "fetch", "--timeout", "3"}, 3, "no answer within 3 s"},
      {{"check", "--crl", "http://" + first + "/a.crl", "--timeout", "1.5"}, 1.5, "no answer within 1.5 s"},
      {{"check", "--crl", "http://" + refused + "/a.crl", "--timeout", "20"}, 0, "connection refused"},
  };
  const double slack = 1 + 2 * ProcessCost();
  for (const auto& run : kRuns) {
    const auto start = std::chrono::steady_clock::now();
    const Outcome outcome = Run(run.command);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    SCOPED_TRACE(run.command.front() + ": " + outcome.out + outcome.err);
    EXPECT_NE((outcome.out + outcome.err).find(run.said), std::string::npos);
    EXPECT_LT(took, run.timeout + slack);
  }
}

}  // namespace
