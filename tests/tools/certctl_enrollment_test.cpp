// What the enrollment transcript cannot show: request and install killed at
// random moments, and where the pending key and the container's random
// password are never found (files, open descriptors, released memory).
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/pkcs12.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include "host/service_host.h"
#include "ossl/holders.h"
#include "ossl/text.h"
#include "tests/support/loopback_peers.h"
#include "tests/tools/certctl_fixture.h"

namespace {

constexpr ivo::PeerType kEdr = *ivo::PeerType::From(1);

using ossl::UniquePtr;
namespace fs = std::filesystem;

class Enrollment : public test::CertctlTest {
 protected:
  Enrollment() {
    Openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-subj",
             "/CN=Issuing CA", "-days", "30", "-keyout", Path("issuing.key"), "-out", Path("issuing.pem")});
  }

  void Openssl(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), "openssl");
    const test::ProcessResult run = test::RunProcess(arguments, m_dir.path());
    ASSERT_EQ(run.exit, 0) << run.err;
  }

  // The CA's certificate for the request `csr`, written to `crt`.
  void Sign(const std::string& csr, const std::string& crt) const {
    Openssl({"x509", "-req", "-in", Path(csr), "-CA", Path("issuing.pem"), "-CAkey", Path("issuing.key"),
             "-copy_extensions", "copy", "-days", "30", "-out", Path(crt)});
  }

  ozo::ref_ptr<host::SqliteStore> OpenStore() const {
    ozo::ref_ptr<host::SqliteStore> store;
    std::string error;
    EXPECT_EQ(host::SqliteStore::Open(m_store, host::SqliteStore::Mode::ReadOnly, store, error), 0) << error;
    return store;
  }

  // The pending key's private value (big-endian, as DER and PEM carry it),
  // empty when none is pending.
  std::string PendingSecret() const {
    host::lifecycle::PendingKey pending;
    if (OpenStore()->pendingKeys().Get(kEdr, pending) != 0) return "";
    const unsigned char* at = pending.key.data();
    const UniquePtr<EVP_PKEY> key(d2i_AutoPrivateKey(nullptr, &at, static_cast<long>(pending.key.size())));
    BIGNUM* value = nullptr;
    EXPECT_TRUE(key && EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_PRIV_KEY, &value));
    // At the key's full width, as its encodings hold it: one key in 256
    // has a leading zero byte.
    const int width = key ? (EVP_PKEY_get_bits(key.get()) + 7) / 8 : 0;
    std::string bytes(static_cast<std::size_t>(width), '\0');
    if (value) BN_bn2binpad(value, reinterpret_cast<unsigned char*>(bytes.data()), width);
    BN_clear_free(value);
    return bytes;
  }

  std::string IntegrityCheck() const {
    sqlite3_stmt* check = nullptr;
    const ozo::ref_ptr<host::SqliteStore> store = OpenStore();
    sqlite3_prepare_v2(store->db(), "PRAGMA integrity_check", -1, &check, nullptr);
    const std::string verdict =
        sqlite3_step(check) == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(check, 0)) : "no row";
    sqlite3_finalize(check);
    return verdict;
  }

  // The slot's stored pair: the subject's serial number when its container
  // opens with the stored password to a key that matches its certificate,
  // else why not.
  std::string StoredPair() const {
    host::HostOptions options;
    options.store = OpenStore();
    host::ServiceHost host(std::move(options));
    ivo::ClientCertificate record;
    if (host.ReadRecord(kEdr, record) != 0) return "nothing stored";
    const unsigned char* at = record.certificate.data();
    const UniquePtr<PKCS12> container(d2i_PKCS12(nullptr, &at, static_cast<long>(record.certificate.size())));
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
    if (!container || !PKCS12_parse(container.get(), record.password.c_str(), &key, &certificate, nullptr))
      return "the container does not open with its password";
    const UniquePtr<EVP_PKEY> ownedKey(key);
    const UniquePtr<X509> ownedCertificate(certificate);
    if (X509_check_private_key(certificate, key) != 1) return "the key does not match the certificate";
    return ossl::SerialHex(certificate);
  }

  static std::string SerialOf(const std::string& pemFile) {
    const std::vector<UniquePtr<X509>> read = ossl::ReadCertificates(test::ReadWholeFile(pemFile));
    return read.empty() ? "no certificate in " + pemFile : ossl::SerialHex(read.front().get());
  }
};

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

// Kills at random moments of request and install leave a store that passes
// its integrity check, whose slot holds a container that opens to a
// matching pair, the old or the new; the new pair is there exactly when
// the key is no longer pending.
TEST_F(Enrollment, KillsDuringRequestAndInstallLeaveTheOldPairOrTheNewOne) {
  ASSERT_EQ(Run({"request", "edr", "--subject", "CN=agent.test", "-o", Path("r.csr")}).exit, 0);
  Sign("r.csr", "r.crt");
  ASSERT_EQ(Run({"install", "edr", Path("r.crt"), "--trusted", Path("issuing.pem")}).exit, 0);
  std::mt19937 random(4242);
  int killedMidway = 0;
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const bool duringRequest = round % 2 == 0;
    if (!duringRequest) {
      ASSERT_EQ(Run({"request", "edr", "-o", Path("r.csr")}).exit, 0);
      Sign("r.csr", "r.crt");
    }
    const std::string before = StoredPair();
    const pid_t pid = test::SpawnProcess(
        Argv(duringRequest
                 ? std::vector<std::string>{"request", "edr", "--new-key", "-o", Path("killed.csr")}
                 : std::vector<std::string>{"install", "edr", Path("r.crt"), "--trusted", Path("issuing.pem")},
             m_store),
        Path("o"), Path("e"));
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 40000));
    ::kill(pid, SIGKILL);
    killedMidway += test::ExitOf(pid) == -1 ? 1 : 0;
    ASSERT_EQ(IntegrityCheck(), "ok");
    const std::string after = StoredPair();
    if (duringRequest || !PendingSecret().empty())
      EXPECT_EQ(after, before);
    else
      EXPECT_EQ(after, SerialOf(Path("r.crt")));
  }
  EXPECT_GT(killedMidway, 10);  // the kills did land inside runs
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
  int killedMidway = 0, renewed = 0;
  // The first run is left to finish: how long a whole renewal takes on this
  // machine, under this load, is where the span the later kills land in
  // starts (it grows to three times that at most).
  std::chrono::microseconds whole{0}, first{0};
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    if (PendingSecret().empty() || ca.empty()) {
      ASSERT_EQ(Run({"request", "edr", "-o", Path("r.csr")}).exit, 0);
      Sign("r.csr", "r.crt");
      ca = peers.Cmp(
          {"-srv_cert", "cmp.pem", "-srv_key", "cmp.key", "-srv_trusted", "issuing.pem", "-rsp_cert", "r.crt"},
          m_dir.path());
    }
    const std::string before = StoredPair();
    const std::int64_t started = std::time(nullptr);
    host::lifecycle::RenewalState old;
    OpenStore()->renewalStates().Get(kEdr, old);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid =
        test::SpawnProcess(Argv({"renew", "edr", "--server", ca, "--cmd", "cr"}, m_store), Path("o"), Path("e"));
    if (round == 0) {
      ASSERT_EQ(test::ExitOf(pid), 0) << test::ReadWholeFile(Path("e"));
      whole = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
      first = whole;
    } else {
      std::this_thread::sleep_for(std::chrono::microseconds(random() % (whole.count() * 6 / 5 + 1)));
      ::kill(pid, SIGKILL);
      // A kill that lands inside the run widens the span a little: on a
      // machine that slows down after the first run, some runs still end
      // before their kill.
      if (test::ExitOf(pid) == -1) {
        ++killedMidway;
        whole = std::min(whole * 11 / 10, first * 3);
      }
    }
    ASSERT_EQ(IntegrityCheck(), "ok");
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
  }
  EXPECT_GT(killedMidway, 10);  // the kills did land inside runs
  EXPECT_GT(renewed, 2);        // and some runs ended first
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
