// The built certctl, run as a subprocess on temporary stores, where a
// session transcript cannot show it: as another user, beside another host,
// while another process writes, and with its freed memory watched.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "ozo/module.h"
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
  auto runAsOther = [&](const std::vector<std::string>& args) {
    std::vector<std::string> argv = asOther;
    for (const std::string& arg : Argv(args, m_store)) argv.push_back(arg);
    return test::RunProcess(argv, m_dir.path());
  };
  if (!asOther.empty()) {  // root's owner-only store, to another user: permission denied, in words
    const Outcome denied = runAsOther({"list"});
    EXPECT_EQ(denied.exit, 4);
    EXPECT_NE(denied.err.find("permission denied: it belongs to user root (0), mode 0600"), std::string::npos)
        << denied.err;
  }
  ::chmod(m_store.c_str(), 0444);
  const std::string before = test::ReadWholeFile(m_store);
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

// A host built on the reference host over the same store behaves as certctl
// does: the locks certctl sets hold for it, and certctl lists its events.
TEST_F(CertctlTest, AReferenceHostOnTheStoreSharesItsLocksAndJournal) {
  ASSERT_EQ(Run({"policy", "lock", "sandbox", "server"}).exit, 0);
  {
    ozo::ref_ptr<host::SqliteStore> store;
    std::string error;
    ASSERT_EQ(host::SqliteStore::Open(m_store, host::SqliteStore::Mode::ReadWrite, store, error), 0) << error;
    host::HostOptions options;
    options.store = store;
    host::ServiceHost host(std::move(options));
    ozo::ref_ptr<ozo::IObject> object;
    ozo::ref_ptr<ivo::ICertificatesManager> manager;
    ASSERT_EQ(ozoCreateObject(ivo::ClsIdCertificatesManager, host.locatorAddress(), object.Ref()), 0);
    ASSERT_EQ(ozo::QueryInterface(object.get(), manager), 0);
    const ivo::ServerCertificate record{test::ReadFile(Path("edr.der"))};
    EXPECT_EQ(manager->SetServerCertificate(2, record, test::User()), ozo::results::AccessDenied);
    EXPECT_EQ(manager->SetServerCertificate(1, record, test::User()), 0);
  }
  const Outcome events = Run({"events", "--json"});
  EXPECT_NE(events.out.find("ZepaEdrServerCertificateAdded"), std::string::npos) << events.out;
  EXPECT_EQ(events.out.find("Sandbox"), std::string::npos) << events.out;
}

// A backup taken while another process writes the store is a whole,
// consistent store that certctl reads.
TEST_F(CertctlTest, ABackupTakenWhileAnotherProcessWritesIsAConsistentStore) {
  ASSERT_EQ(Run({"set-server", "edr", Path("edr.der")}).exit, 0);
  const std::string writes = "for i in 1 2 3 4 5 6 7 8 9 10; do '" CM_CERTCTL_PATH "' --store '" + m_store +
                             "' set-server edr '" + Path("edr2.pem") + "'; '" CM_CERTCTL_PATH "' --store '" + m_store +
                             "' set-server edr '" + Path("edr.der") + "'; done";
  const pid_t writer = test::SpawnProcess({"/bin/sh", "-c", writes}, Path("writer.out"), Path("writer.err"));
  for (int i = 0; i < 5; ++i) {
    const std::string backup = Path("backup" + std::to_string(i) + ".db");
    const Outcome written = Run({"backup", backup});
    ASSERT_EQ(written.exit, 0) << written.err;
    EXPECT_EQ(Integrity(backup), "ok");
    const Outcome listed = Run({"list"}, backup);
    EXPECT_EQ(listed.exit, 0) << listed.err;
    EXPECT_NE(listed.out.find("edr   server"), std::string::npos) << listed.out;
  }
  EXPECT_EQ(test::ExitOf(writer), 0);
}

// certctl wipes a password on every path: no block it releases holds it,
// also when the container refuses the password or the command fails.
TEST_F(CertctlTest, NoReleasedBlockHoldsThePasswordOnAnyPath) {
#ifndef CM_FREE_WATCH_PATH
  GTEST_SKIP() << "needs a build without sanitizers (they replace free)";
#else
  const std::string marker = "Zq8#certctl-marker-9Kp2!";
  Write("marker", test::BlobOf(marker + "\n"));
  test::Pkcs12Params container;
  container.password = marker;
  Write("marked.p12", test::MakePkcs12(container));
  auto freedHolding = [&](const std::vector<std::string>& argv) {
    const std::string report = Path("frees");
    std::filesystem::remove(report);
    const Outcome run =
        test::RunProcess(argv, m_dir.path(),
                         {"LD_PRELOAD=" CM_FREE_WATCH_PATH, "CM_WATCH_FREES=" + marker, "CM_WATCH_REPORT=" + report});
    return test::ReadWholeFile(report) + "(exit " + std::to_string(run.exit) + ")";
  };
  // The watch sees a process that releases the password unwiped.
  const std::string control = freedHolding({"bash", "-c", "cd '" + m_dir.path() + "' && read -r x < marker; unset x"});
  EXPECT_TRUE(control[0] >= '1' && control[0] <= '9') << control;
  EXPECT_EQ(freedHolding(Argv({"set-client", "edr", Path("client.p12"), "--password-file", Path("marker")}, m_store)),
            "0\n(exit 3)");  // refused by certctl: another password
  ASSERT_EQ(Run({"policy", "lock", "siem", "client"}).exit, 0);
  EXPECT_EQ(freedHolding(Argv({"set-client", "siem", Path("marked.p12"), "--password-file", Path("marker")}, m_store)),
            "0\n(exit 2)");  // refused by the component: the policy locks the setting
  EXPECT_EQ(freedHolding(Argv({"set-client", "edr", Path("marked.p12"), "--password-file", Path("marker")}, m_store)),
            "0\n(exit 0)");
  EXPECT_EQ(freedHolding(Argv({"set-client", "edr", Path("marked.p12"), "--password-file", Path("marker")}, m_store)),
            "0\n(exit 1)");  // the same container again
  EXPECT_EQ(freedHolding(Argv({"check"}, m_store)), "0\n(exit 0)");
  EXPECT_EQ(freedHolding(Argv({"get-client", "edr", "--out", Path("out.p12")}, m_store)), "0\n(exit 0)");
#endif
}

}  // namespace
