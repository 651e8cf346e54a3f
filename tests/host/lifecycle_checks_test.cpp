// The lifecycle's checks, each called directly: which new certificate may be
// installed, who may sign for the CA, what a request may ask, which files
// may be trusted, and the bounds of the network work and of the hook.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "host/lifecycle/hook.h"
#include "host/lifecycle/request.h"
#include "host/lifecycle/trust.h"
#include "host/net/deadline.h"
#include "host/storage/file_trust.h"
#include "host/storage/output_file.h"
#include "ossl/text.h"
#include "tests/support/lifecycle_fixture.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

namespace lifecycle = host::lifecycle;
using ossl::UniquePtr;
using test::Usages;
namespace results = ozo::results;

const std::int64_t kNow = std::time(nullptr);
constexpr std::int64_t kDay = 86400;

lifecycle::TrustAnchors AnchorsOf(X509* certificate) {
  lifecycle::TrustAnchors anchors;
  anchors.origin = "the test";
  if (certificate && X509_up_ref(certificate)) anchors.certificates.emplace_back(certificate);
  return anchors;
}

TEST(IssuedCertificate, InstalledOnlyWhenItChainsToAnAnchorForClientUseNowAndIsNoCas) {
  const test::TestCa ca("Issuing CA"), stranger("Stranger CA");
  const UniquePtr<EVP_PKEY> key = test::NewTestKey();
  struct Row {
    const char* name;
    UniquePtr<X509> certificate;
    X509* anchor;
    ozo::result_t expected;
    const char* error;  // part of it
  };
  Row rows[] = {
      {"issued by the anchor", ca.IssueCertificate(key.get(), "agent", kNow - kDay, 30), ca.certificate(),
       results::NoError, ""},
      {"issued by another CA", stranger.IssueCertificate(key.get(), "agent", kNow - kDay, 30), ca.certificate(),
       results::Prohibited, "unable to get local issuer certificate"},
      {"a CA certificate", ca.IssueCertificate(key.get(), "agent", kNow - kDay, 30, true), ca.certificate(),
       results::Prohibited, "CA certificate"},
      {"ended", ca.IssueCertificate(key.get(), "agent", kNow - 40 * kDay, 30), ca.certificate(),
       results::CertificateOutOfValidityPeriod, "not now"},
      {"starting in a minute", ca.IssueCertificate(key.get(), "agent", kNow + 60, 30), ca.certificate(),
       results::CertificateOutOfValidityPeriod, "60 s after this host's clock"},
      {"a leaf that may sign certificates",
       ca.IssueCertificate(key.get(), "agent", kNow - kDay, 30, false,
                           {"critical,digitalSignature,keyCertSign", nullptr, false}),
       ca.certificate(), results::Prohibited, "keyCertSign"},
      {"for servers only", ca.IssueCertificate(key.get(), "agent", kNow - kDay, 30, false, {nullptr, "serverAuth"}),
       ca.certificate(), results::Prohibited, "purpose"},
      {"no anchors at all", ca.IssueCertificate(key.get(), "agent", kNow - kDay, 30), nullptr, results::InvalidState,
       "nothing says which CA may issue it"},
  };
  for (Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<UniquePtr<X509>> chain;
    std::string error;
    EXPECT_EQ(lifecycle::VerifyIssued(row.certificate.get(), {}, AnchorsOf(row.anchor), kNow, chain, error),
              row.expected);
    EXPECT_NE(error.find(row.error), std::string::npos) << error;
    EXPECT_TRUE(chain.empty()) << "a self-signed root is not sent with the certificate";
  }
}

// A cross-signed intermediate: the path to the anchor is found whichever of
// its versions comes first, and a chain to an intermediate anchor suffices.
TEST(IssuedCertificate, APathIsFoundWhateverOrderTheCrossSignedVersionsComeIn) {
  const test::TestCa root1("Root One"), root2("Root Two"), cross("Cross CA");
  const UniquePtr<EVP_PKEY> key = test::NewTestKey();
  const UniquePtr<X509> agent = cross.IssueCertificate(key.get(), "agent", kNow - kDay, 30);
  const UniquePtr<X509> byOne = cross.CrossSignedBy(root1), byTwo = cross.CrossSignedBy(root2);
  for (const std::vector<X509*>& sent : {std::vector<X509*>{byOne.get(), byTwo.get()}, {byTwo.get(), byOne.get()}}) {
    std::vector<UniquePtr<X509>> chain;
    std::string error;
    EXPECT_EQ(lifecycle::VerifyIssued(agent.get(), sent, AnchorsOf(root2.certificate()), kNow, chain, error), 0)
        << error;
    ASSERT_EQ(chain.size(), 1u);
    EXPECT_EQ(X509_cmp(chain.front().get(), byTwo.get()), 0) << "the version the anchor signed";
  }
  std::vector<UniquePtr<X509>> chain;
  std::string error;
  EXPECT_EQ(lifecycle::VerifyIssued(agent.get(), {}, AnchorsOf(byOne.get()), kNow, chain, error), 0) << error;
}

TEST(CaAnswerSigner, OnlyTheCaOrACertificateItMadeToSpeakForItMaySign) {
  const test::TestCa ca("CA");
  const UniquePtr<EVP_PKEY> key = test::NewTestKey();
  struct Row {
    const char* name;
    UniquePtr<X509> signer;
    bool speaks;
  } rows[] = {
      {"the CA", ca.IssueCertificate(key.get(), "sub CA", kNow, 30, true), true},
      {"a CA by its key usage alone",
       ca.IssueCertificate(key.get(), "old CA", kNow, 30, false, {"critical,keyCertSign", nullptr, false}), true},
      {"an RA", ca.IssueCertificate(key.get(), "ra", kNow, 30, false, {nullptr, "cmcRA"}), true},
      {"a CA's signing certificate", ca.IssueCertificate(key.get(), "cmc", kNow, 30, false, {nullptr, "cmcCA"}), true},
      {"a client", ca.IssueCertificate(key.get(), "agent", kNow, 30), false},
      {"a server", ca.IssueCertificate(key.get(), "peer", kNow, 30, false, {nullptr, "serverAuth"}), false},
  };
  for (Row& row : rows) EXPECT_EQ(lifecycle::SpeaksForTheCa(row.signer.get()), row.speaks) << row.name;
}

TEST(RequestSubject, ANameIsRefusedInWordsWhenOpenSslRefusesAField) {
  struct Row {
    lifecycle::NameFields fields;
    const char* error;  // empty: taken
  } const rows[] = {
      {{{"CN", "agent"}, {"O", "Example"}}, ""},
      {{{"C", "DE"}, {"CN", "agent"}}, ""},
      {{{"C", "USA"}, {"CN", "agent"}}, "C=USA"},
      {{{"XYZ", "a"}}, "XYZ"},
  };
  for (const Row& row : rows) {
    std::string error;
    const UniquePtr<X509_NAME> name = lifecycle::NameOf(row.fields, error);
    EXPECT_EQ(name == nullptr, *row.error != '\0') << error;
    EXPECT_NE(error.find(row.error), std::string::npos) << error;
  }
}

TEST(RequestSubject, ACertificatesSubjectIsAskedAgainAndReadBackFromTheRequest) {
  const test::TestCa ca("CA");
  const UniquePtr<EVP_PKEY> key = test::NewTestKey();
  const UniquePtr<X509> certificate = ca.IssueCertificate(key.get(), "agent.test", kNow, 30);
  lifecycle::RequestSubject asked = lifecycle::SubjectOf(certificate.get());
  EXPECT_EQ(asked.name, (lifecycle::NameFields{{"CN", "agent.test"}}));
  EXPECT_EQ(asked.extendedKeyUsage, std::vector<std::string>{"clientAuth"});
  asked.alternativeNames = {"DNS:agent.test", "IP:10.0.0.1"};
  lifecycle::RequestDocument document;
  std::string error;
  ASSERT_EQ(lifecycle::SignedRequest(key.get(), asked, document, error), results::NoError) << error;
  EXPECT_EQ(document.pem.rfind("-----BEGIN CERTIFICATE REQUEST-----", 0), 0u);
  lifecycle::RequestSubject read;
  ASSERT_TRUE(lifecycle::SubjectOfDer(document.nameDer, document.extensionsDer, read));
  EXPECT_EQ(read.name, asked.name);
  EXPECT_EQ(read.alternativeNames, asked.alternativeNames);
  EXPECT_EQ(read.keyUsage, asked.keyUsage);
  EXPECT_EQ(read.extendedKeyUsage, asked.extendedKeyUsage);
}

TEST(RequestSubject, AClientCertificatesUsagesAreAddedOnlyWhereNoneIsNamed) {
  struct Row {
    lifecycle::KeyAlgorithm algorithm;
    std::vector<std::string> keyUsage, expectedKeyUsage;
  } const rows[] = {
      {lifecycle::KeyAlgorithm::EcP256, {}, {"digitalSignature"}},
      {lifecycle::KeyAlgorithm::Rsa2048, {}, {"digitalSignature", "keyEncipherment"}},
      {lifecycle::KeyAlgorithm::EcP384, {"digitalSignature", "keyAgreement"}, {"digitalSignature", "keyAgreement"}},
  };
  for (const Row& row : rows) {
    lifecycle::RequestSubject subject;
    subject.keyUsage = row.keyUsage;
    const lifecycle::RequestSubject completed = lifecycle::ForClientUse(subject, row.algorithm);
    EXPECT_EQ(completed.keyUsage, row.expectedKeyUsage);
    EXPECT_EQ(completed.extendedKeyUsage, std::vector<std::string>{"clientAuth"});
  }
}

// A file or folder's mode and owner, set as the row says.
void Set(const std::string& path, mode_t mode, uid_t owner = 0) {
  ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
  ASSERT_EQ(::lchown(path.c_str(), owner, static_cast<gid_t>(-1)), 0) << path;
}

TEST(FileTrust, AStoreIsTrustedOnlyWhenNobodyElseCanSteerItOrItsFolders) {
  if (::geteuid() != 0) GTEST_SKIP() << "changing owners needs root";
  constexpr uid_t kNobody = 65534;
  const test::TempDir dir;
  const std::string above = dir.File("above"), folder = above + "/folder", store = folder + "/store.db";
  std::filesystem::create_directories(folder);
  std::ofstream(store).put('x');
  struct Row {
    const char* name;
    mode_t aboveMode, folderMode, storeMode;
    uid_t storeOwner;
    const char* names;  // the path the sentence names; empty: trusted
  } const rows[] = {
      {"owner-only", 0755, 0700, 0600, 0, ""},
      {"a sticky folder above", 01777, 0700, 0600, 0, ""},
      {"the store writable by its group", 0755, 0700, 0620, 0, "store.db"},
      {"the store someone else's", 0755, 0700, 0600, kNobody, "store.db"},
      {"its folder writable by others", 0755, 0777, 0600, 0, "folder"},
      {"its folder sticky but writable by others", 0755, 01777, 0600, 0, "folder"},
      {"a folder above writable by others", 0777, 0700, 0600, 0, "above"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Set(above, row.aboveMode);
    Set(folder, row.folderMode);
    Set(store, row.storeMode, row.storeOwner);
    std::string problem;
    EXPECT_EQ(host::CheckTrustedPath(store, problem), *row.names ? results::AccessDenied : results::NoError);
    EXPECT_NE(problem.find(row.names), std::string::npos) << problem;
  }
}

// An output replaces only what this user may replace, and never writes
// through or into what someone else put at its name, as root in a sticky
// folder: another user's link, file or pipe is refused (a pipe at once, read
// or not), the file behind a link stays as it was.
TEST(OutputFile, ReplacesOnlyWhatThisUserMayAndWritesIntoNothingElse) {
  if (::geteuid() != 0) GTEST_SKIP() << "changing owners needs root";
  constexpr uid_t kNobody = 65534;
  const test::TempDir dir;
  const std::string folder = dir.File("public"), target = dir.File("target");
  std::filesystem::create_directories(folder);
  Set(folder, 01777);
  std::ofstream(target) << "untouched";
  const auto at = [&](const char* name) { return folder + "/" + name; };
  std::ofstream(at("own.p12")) << "old";
  std::ofstream(at("theirs.p12")) << "theirs";
  Set(at("theirs.p12"), 0644, kNobody);
  ASSERT_EQ(::symlink(target.c_str(), at("own-link").c_str()), 0);
  ASSERT_EQ(::symlink(target.c_str(), at("their-link").c_str()), 0);
  ASSERT_EQ(::lchown(at("their-link").c_str(), kNobody, static_cast<gid_t>(-1)), 0);
  ASSERT_EQ(::mkfifo(at("pipe").c_str(), 0666), 0);
  Set(at("pipe"), 0666, kNobody);
  // A null device of the test's own (root may make one): a fault that
  // replaced a device by a file must not replace the system's /dev/null.
  const bool device = ::mknod(at("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  struct Row {
    std::string path;
    ozo::result_t expected;
    const char* said;  // part of the refusal
  } const rows[] = {
      {at("new.p12"), results::NoError, ""},
      {at("own.p12"), results::NoError, ""},
      {at("own-link"), results::NoError, ""},
      {device ? at("null") : "", results::NoError, ""},
      {at("theirs.p12"), results::AccessDenied, "belongs to user nobody"},
      {at("their-link"), results::AccessDenied, "symbolic link of user nobody"},
      {at("pipe"), results::AccessDenied, "is a pipe"},
      {folder, results::AccessDenied, "Is a directory"},
  };
  for (const Row& row : rows) {
    if (row.path.empty()) continue;  // no device could be made
    SCOPED_TRACE(row.path);
    std::string error;
    EXPECT_EQ(host::WriteOutputFile(
                  row.path, 0600, [](int fd, std::string&) { return ::write(fd, "secret", 6) == 6; }, error),
              row.expected);
    EXPECT_NE(error.find(row.said), std::string::npos) << error;
    struct stat about {};
    if (row.path == at("null")) {
      ASSERT_EQ(::lstat(row.path.c_str(), &about), 0);
      EXPECT_TRUE(S_ISCHR(about.st_mode)) << "a device is written in place";
    } else if (row.expected == results::NoError) {
      ASSERT_EQ(::lstat(row.path.c_str(), &about), 0);
      EXPECT_TRUE(S_ISREG(about.st_mode) && (about.st_mode & 0777) == 0600) << "a new owner-only file at the name";
      EXPECT_EQ(test::ReadWholeFile(row.path), "secret");
    }
  }
  EXPECT_EQ(test::ReadWholeFile(target), "untouched") << "no link was written through";
  EXPECT_EQ(test::ReadWholeFile(at("theirs.p12")), "theirs");
}

TEST(NetworkDeadline, AnOpenSslLimitInWholeSecondsIsNeverZeroWhichWouldBeNone) {
  struct Row {
    double seconds;
    int whole;
  } const rows[] = {{0.001, 1}, {0.5, 1}, {1.0, 1}, {2.5, 3}, {-1, 1}};
  for (const Row& row : rows) EXPECT_EQ(host::Deadline(row.seconds).WholeSeconds(), row.whole) << row.seconds;
  EXPECT_EQ(host::Deadline(0.5).Within(), "within 0.5 s");
}

// The hook contract: the renewal's facts and the chain in an owner-only file
// that is gone afterwards, nothing of the caller's environment, no input,
// and no more time than it is given (its whole process group goes then).
TEST(RenewalHook, GetsItsFactsAndTheChainAndNoMoreTime) {
  ::setenv("CM_TEST_SECRET", "hidden", 1);
  const test::TempDir dir;
  const std::string chainCopy = dir.File("chain"), orphan = dir.File("orphan");
  struct Row {
    std::string command;
    const char* failure;
  } const rows[] = {
      {"exit 0", ""},
      {"exit 3", "exited 3"},
      {"kill -KILL $$", "was killed by signal 9"},
      {"test \"$CERTCTL_TYPE\" = edr", ""},
      {"test -z \"$CM_TEST_SECRET\"", ""},
      {"read line", "exited 1"},  // its input is /dev/null
      {"test $(stat -c %a \"$CERTCTL_CHAIN_FILE\") = 600 && cp \"$CERTCTL_CHAIN_FILE\" " + chainCopy +
           " && echo $CERTCTL_CHAIN_FILE > " + chainCopy + ".path",
       ""},
      {"sleep 30 & echo $! > " + orphan + "; wait", "was stopped after 0.5 s, its time"},
  };
  for (const Row& row : rows) {
    std::string failure;
    EXPECT_EQ(
        lifecycle::RunHook({row.command, {{"CERTCTL_TYPE", "edr"}}, "-----BEGIN CERTIFICATE-----\n", 0.5}, failure),
        *row.failure ? results::UnspecifiedError : results::NoError)
        << row.command;
    EXPECT_EQ(failure, row.failure) << row.command;
  }
  ::unsetenv("CM_TEST_SECRET");
  EXPECT_EQ(test::ReadWholeFile(chainCopy), "-----BEGIN CERTIFICATE-----\n");
  std::string chainPath = test::ReadWholeFile(chainCopy + ".path");
  chainPath.pop_back();
  EXPECT_FALSE(std::filesystem::exists(chainPath)) << "the chain file goes with the hook";
  // Killed, it is soon gone or a zombie nobody reaped yet (a SIGKILL takes
  // effect when the process next runs, which a loaded machine may delay).
  const std::string statPath = "/proc/" + std::to_string(std::stoi(test::ReadWholeFile(orphan))) + "/stat";
  const auto dead = [](const std::string& stat) {
    const std::size_t state = stat.rfind(") ");
    return stat.empty() || (state != std::string::npos && stat[state + 2] == 'Z');
  };
  std::string stat = test::ReadWholeFile(statPath);
  for (int wait = 0; wait < 500 && !dead(stat); ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stat = test::ReadWholeFile(statPath);
  }
  EXPECT_TRUE(dead(stat)) << "the hook's whole process group was killed: " << stat;
}

}  // namespace
