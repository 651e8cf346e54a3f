// certctl killed with SIGKILL at random moments of its work, round after
// round: what a killed run leaves is a store that opens whole and holds the
// state before the run or after it, and nothing beside it but what the next
// run clears. These tests prove what a kill leaves, which a sanitizer adds
// nothing to (and under one, each of their hundreds of runs is slow): the test
// command runs them, label "kills", in the release build only.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <thread>

#include "tests/support/loopback_peers.h"
#include "tests/tools/enrollment_fixture.h"

namespace {

using test::CertctlTest;
using Pause = std::optional<std::chrono::microseconds>;

// `rounds` rounds of: certctl with `arguments(round)` started (its output in
// `folder`/o and e), killed after `pause(round)` (left to end when there is
// none), reaped, then `check(round, killedMidway)`. The number of kills that
// landed inside a run.
int KillAtRandomMoments(const std::string& folder, int rounds,
                        const std::function<std::vector<std::string>(int round)>& arguments,
                        const std::function<Pause(int round)>& pause,
                        const std::function<void(int round, bool killedMidway)>& check,
                        const std::vector<std::string>& environment = {}) {
  int killedMidway = 0;
  for (int round = 0; round < rounds && !testing::Test::HasFatalFailure(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::vector<std::string> argv = arguments(round);
    const Pause wait = pause(round);
    const pid_t pid = test::SpawnProcess(argv, folder + "/o", folder + "/e", environment);
    bool killed = false;
    if (wait) {
      std::this_thread::sleep_for(*wait);
      ::kill(pid, SIGKILL);
      killed = test::ExitOf(pid) == -1;
    } else {
      EXPECT_EQ(test::ExitOf(pid), 0) << test::ReadWholeFile(folder + "/e");
    }
    killedMidway += killed ? 1 : 0;
    check(round, killed);
  }
  return killedMidway;
}

// A pause drawn below `limit` microseconds.
std::function<Pause(int)> Below(unsigned seed, unsigned limit) {
  return [random = std::make_shared<std::mt19937>(seed), limit](int) {
    return Pause(std::chrono::microseconds((*random)() % limit));
  };
}

// A change killed at any point leaves a store that opens, in which the slot
// holds the old or the new record, never a damaged one.
TEST_F(CertctlTest, KilledChangesNeverDamageTheStore) {
  const std::vector<std::vector<std::string>> changes = {
      {"set-server", "edr", Path("edr.der")},
      {"set-server", "edr", Path("edr2.pem")},
      {"set-client", "edr", Path("client.p12"), "--password-file", Path("password")},
      {"remove-client", "edr"},
  };
  ASSERT_EQ(Run(changes[0]).exit, 0);  // the store exists: reads never make one
  const int killed = KillAtRandomMoments(
      m_dir.path(), 100, [&](int round) { return Argv(changes[round % changes.size()], m_store); }, Below(12345, 30000),
      [&](int, bool) {
        const test::ProcessResult server = Run({"query-server", "edr"});
        ASSERT_EQ(server.exit, 0) << server.err;
        ASSERT_TRUE(server.out.find("CN=edr.test") != std::string::npos ||
                    server.out.find("CN=edr2.test") != std::string::npos)
            << server.out;
        const test::ProcessResult client = Run({"query-client", "edr"});
        ASSERT_TRUE(client.exit == 0 || client.exit == 1) << client.err;
      });
  EXPECT_GT(killed, 10);  // the kills did land inside runs
}

// A reader killed at any point leaves nothing behind, also while it reads a
// store a dead writer left a journal in (it reads a private copy then).
TEST_F(CertctlTest, KilledReadersLeaveNoCopyAnywhere) {
  ASSERT_EQ(Run({"set-server", "edr", Path("edr.der")}).exit, 0);
  ASSERT_EQ(Run({"set-client", "edr", Path("client.p12"), "--password-file", Path("password")}).exit, 0);
  const std::string tmp = Path("tmp"), logs = Path("logs");
  std::filesystem::create_directory(tmp);
  std::filesystem::create_directory(logs);
  const pid_t writer = ::fork();
  if (writer == 0) {  // dies in the middle of a transaction: the journal stays hot
    sqlite3* db = nullptr;
    sqlite3_open(m_store.c_str(), &db);
    sqlite3_exec(db, "PRAGMA cache_size=2; BEGIN; UPDATE node_values SET data = zeroblob(4000);", nullptr, nullptr,
                 nullptr);
    ::_exit(0);
  }
  ASSERT_EQ(test::ExitOf(writer), 0);
  ASSERT_TRUE(std::filesystem::exists(m_store + "-journal"));
  const std::vector<std::string> before = test::Entries(m_dir.path());
  KillAtRandomMoments(
      logs, 50, [&](int) { return Argv({"list"}, m_store); }, Below(7, 20000),
      [&](int, bool) {
        ASSERT_EQ(test::Entries(tmp), std::vector<std::string>());
        ASSERT_EQ(test::Entries(m_dir.path()), before);
      },
      {"TMPDIR=" + tmp});
  EXPECT_NE(Run({"list"}).out.find("edr   client"), std::string::npos);
}

// A backup killed at any point leaves at most its own temporary file beside
// the target, and the next backup removes it.
TEST_F(CertctlTest, KilledBackupsLeaveAtMostOneTemporaryFileWhichTheNextRemoves) {
  ASSERT_EQ(Run({"set-server", "edr", Path("edr.der")}).exit, 0);
  const std::string folder = Path("backups");
  std::filesystem::create_directory(folder);
  KillAtRandomMoments(
      m_dir.path(), 50,
      [&](int) {
        return Argv({"backup", folder + "/b.db"}, m_store);
      },
      Below(11, 20000), [&](int, bool) { ASSERT_LE(test::Entries(folder, ".b.db.").size(), 1u); });
  ASSERT_EQ(Run({"backup", folder + "/b.db"}).exit, 0);
  EXPECT_EQ(test::Entries(folder, ".b.db."), std::vector<std::string>());
}

using test::Enrollment;
using test::kEdr;

// Kills at random moments of request and install leave a store that passes
// its integrity check, whose slot holds a container that opens to a
// matching pair, the old or the new; the new pair is there exactly when
// the key is no longer pending.
TEST_F(Enrollment, KillsDuringRequestAndInstallLeaveTheOldPairOrTheNewOne) {
  ASSERT_EQ(Run({"request", "edr", "--subject", "CN=agent.test", "-o", Path("r.csr")}).exit, 0);
  Sign("r.csr", "r.crt");
  ASSERT_EQ(Run({"install", "edr", Path("r.crt"), "--trusted", Path("issuing.pem")}).exit, 0);
  std::string before;
  const auto duringRequest = [](int round) { return round % 2 == 0; };
  const int killed = KillAtRandomMoments(
      m_dir.path(), 50,
      [&](int round) {
        if (!duringRequest(round)) {
          EXPECT_EQ(Run({"request", "edr", "-o", Path("r.csr")}).exit, 0);
          Sign("r.csr", "r.crt");
        }
        before = StoredPair();
        return Argv(duringRequest(round)
                        ? std::vector<std::string>{"request", "edr", "--new-key", "-o", Path("killed.csr")}
                        : std::vector<std::string>{"install", "edr", Path("r.crt"), "--trusted", Path("issuing.pem")},
                    m_store);
      },
      Below(4242, 40000),
      [&](int round, bool) {
        ASSERT_EQ(Integrity(), "ok");
        if (duringRequest(round) || !PendingSecret().empty())
          EXPECT_EQ(StoredPair(), before);
        else
          EXPECT_EQ(StoredPair(), SerialOf(Path("r.crt")));
      });
  EXPECT_GT(killed, 10);  // the kills did land inside runs
}

// Kills at random moments of a renewal over CMP leave the old pair or the new
// one, and a state that counts the renewal exactly when the new pair is in.
TEST_F(Enrollment, KillsDuringRenewalLeaveTheOldPairOrTheNewOneAndAStateThatSaysWhich) {
  Openssl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-subj", "/CN=cmp.test", "-addext",
           "extendedKeyUsage=cmcRA", "-keyout", Path("cmp.key"), "-out", Path("cmp.csr")});
  Sign("cmp.csr", "cmp.pem");
  ASSERT_EQ(Run({"set-server", "edr", Path("issuing.pem")}).exit, 0);
  ASSERT_EQ(Run({"request", "edr", "--subject", "CN=agent.test", "-o", Path("r.csr")}).exit, 0);
  Sign("r.csr", "r.crt");
  ASSERT_EQ(Run({"install", "edr", Path("r.crt"), "--trusted", Path("issuing.pem")}).exit, 0);
  test::LoopbackPeers peers;
  std::mt19937 random(777);
  std::string ca;  // the mock CA that answers with the certificate of the pending key
  std::string before;
  host::lifecycle::RenewalState old;
  std::int64_t started = 0;
  int renewed = 0;
  // The first run is left to finish: how long a whole renewal takes on this
  // machine, under this load, is where the span the later kills land in
  // starts; a kill that lands inside a run widens it a little (on a machine
  // that slows down after the first run, some runs still end before their
  // kill), to three times the first at most.
  std::chrono::microseconds whole{0}, first{0};
  std::chrono::steady_clock::time_point start;
  const int killed = KillAtRandomMoments(
      m_dir.path(), 50,
      [&](int) {
        if (PendingSecret().empty() || ca.empty()) {
          EXPECT_EQ(Run({"request", "edr", "-o", Path("r.csr")}).exit, 0);
          Sign("r.csr", "r.crt");
          ca = peers.Cmp(
              {"-srv_cert", "cmp.pem", "-srv_key", "cmp.key", "-srv_trusted", "issuing.pem", "-rsp_cert", "r.crt"},
              m_dir.path());
        }
        before = StoredPair();
        started = std::time(nullptr);
        OpenStore()->renewalStates().Get(kEdr, old);
        start = std::chrono::steady_clock::now();
        return Argv({"renew", "edr", "--server", ca, "--cmd", "cr"}, m_store);
      },
      [&](int round) {
        return round == 0 ? Pause() : Pause(std::chrono::microseconds(random() % (whole.count() * 6 / 5 + 1)));
      },
      [&](int round, bool killedMidway) {
        if (round == 0)
          first = whole =
              std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
        if (killedMidway) whole = std::min(whole * 11 / 10, first * 3);
        ASSERT_EQ(Integrity(), "ok");
        const std::string after = StoredPair();
        host::lifecycle::RenewalState state;
        OpenStore()->renewalStates().Get(kEdr, state);
        if (after == before) {
          EXPECT_EQ(state.lastSuccess, old.lastSuccess) << "a renewal counted that did not happen";
          EXPECT_FALSE(PendingSecret().empty());
        } else {
          EXPECT_EQ(after, SerialOf(Path("r.crt")));
          EXPECT_TRUE(PendingSecret().empty());
          EXPECT_GE(state.lastSuccess.value_or(0), started);
          EXPECT_EQ(state.failures, 0);
          ca.clear();
          ++renewed;
        }
      });
  EXPECT_GT(killed, 10);  // the kills did land inside runs
  EXPECT_GT(renewed, 2);  // and some runs ended first
}

}  // namespace
