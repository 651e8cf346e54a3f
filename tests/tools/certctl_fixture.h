// The built certctl, run as a subprocess on a store in a temporary folder
// that holds sample certificate files: some valid from 2020 to 2100, and some
// dated from the time the tests started (kNow), for expiry monitoring.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "host/storage/sqlite_store.h"
#include "tests/support/certificate_builder.h"
#include "tests/support/manager_fixture.h"
#include "tests/support/process.h"
#include "tests/support/recording_host.h"
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
    for (const int days : {3, 5, 20, 60}) Write("in" + std::to_string(days) + ".der", MakeDer(Valid(-1, days, "d")));
    CertificateParams web = Valid(-1, 20, "web.test");
    web.extensions = {{"subjectAltName", "DNS:web.test,IP:127.0.0.1"},
                      {"keyUsage", "critical,digitalSignature,keyEncipherment"},
                      {"extendedKeyUsage", "serverAuth,clientAuth"},
                      {"basicConstraints", "critical,CA:FALSE"},
                      {"subjectKeyIdentifier", "hash"},
                      {"authorityKeyIdentifier", "keyid"}};
    Write("web.pem", MakePem(web));
    CertificateParams extended = Valid(-1, 20, "extensions.test");
    extended.key = KeyType::Rsa2048;
    extended.extensions = {{"subjectAltName", "DNS:extensions.test"},
                           {"authorityInfoAccess", "OCSP;URI:http://ocsp.test/,caIssuers;URI:http://ca.test/ca.crt"},
                           {"crlDistributionPoints", "URI:http://crl.test/ca.crl"},
                           {"certificatePolicies", "DER:300D300B06092B06010401868D1F01"},  // policy 1.3.6.1.4.1.99999.1
                           {"1.3.6.1.4.1.99999.2", "DER:0500"},                            // unknown to OpenSSL
                           {"1.3.6.1.4.1.11129.2.4.3", "critical,DER:0500"}};  // critical, and no peer handles it
    Write("extensions.pem", MakePem(extended));
    CertificateParams weak = Valid(-1, 20, "weak.test");
    weak.key = KeyType::Rsa1024;
    weak.digest = "SHA1";
    Write("weak.pem", MakePem(weak));
    CertificateParams names = Valid(-1, 60, "names.test");
    names.subject.push_back({"O",
                             "\xC3\x9Cmlaut Stra\xC3\x9F"
                             "e"});
    Write("utf8.der", MakeDer(names));
    CertificateParams wide = Valid(-1, 60, "\xE8\xA8\xBC\xE6\x98\x8E\xE6\x9B\xB8");  // 証明書: two columns each
    Write("wide.der", MakeDer(wide));
    Pkcs12Params mismatched;
    mismatched.certificate = Valid(-1, 20, "agent");
    mismatched.password = "s3cret";
    mismatched.containerKey = KeyType::EcP256Other;
    Write("mismatch.p12", MakePkcs12(mismatched));
    Write("ended.der", MakeDer(Valid(-30, -6, "ended")));
    Write("future.der", MakeDer(Valid(10, 90, "future")));
    Write("hostile.der", MakeDer(Valid(-1, 20, "a \"quoted\" \\ name\nsecond line")));
    Pkcs12Params container;
    container.certificate = Valid(-1, 20, "agent");
    container.password = "s3cret";
    Write("in20.p12", MakePkcs12(container));
    container.encryption = Pkcs12Encryption::Legacy;  // RC2-40 and 3DES, as older tools still write
    Write("legacy.p12", MakePkcs12(container));
    CertificateParams ancient;
    ancient.notBefore = "16000101000000Z";
    Write("before1601.der", MakeDer(ancient));
    WriteProbePki();
  }

  // For probes: ca.pem issued peer.pem and peer5.pem (probe.test and
  // 127.0.0.1, ending in 60 and 5 days; their key peer.key), agent.p12 and
  // hostile-peer.pem (names with terminal controls, key peer.key);
  // other-ca.pem issued stranger.p12.
  void WriteProbePki() const {
    const auto authority = [](const std::string& name, KeyType key) {
      CertificateParams ca = Valid(-1, 365, name);
      ca.key = key;
      ca.extensions = {{"basicConstraints", "critical,CA:TRUE"}, {"keyUsage", "critical,keyCertSign"}};
      return ca;
    };
    const auto issued = [](const CertificateParams& ca, std::int64_t days, const std::string& name,
                           unsigned char serial) {
      CertificateParams leaf = Valid(-1, days, name);
      leaf.issuer = ca.subject;
      leaf.signer = ca.key;
      leaf.serial = {serial};
      return leaf;
    };
    const CertificateParams ca = authority("Probe CA", KeyType::Rsa2048);
    const CertificateParams other = authority("Other CA", KeyType::EcP256Other);
    Write("ca.pem", MakePem(ca));
    Write("other-ca.pem", MakePem(other));
    for (const auto& [file, days] : {std::pair{"peer.pem", 60}, {"peer5.pem", 5}}) {
      CertificateParams peer = issued(ca, days, "probe.test", static_cast<unsigned char>(days));
      peer.extensions = {{"subjectAltName", "DNS:probe.test,IP:127.0.0.1"}};
      Write(file, MakePem(peer));
    }
    Write("peer.key", MakeKeyPem(KeyType::EcP256));
    // A name that would drive a terminal if printed raw: a CSI (ESC and
    // U+009B), a newline, a right-to-left override.
    CertificateParams hostile = issued(ca, 60,
                                       "evil\xC2\x9B"
                                       "2J\xE2\x80\xAE"
                                       "gnp.exe",
                                       0x66);
    hostile.extensions = {{"subjectAltName", "DNS:evil\x1B[2J\nline.test"}};
    Write("hostile-peer.pem", MakePem(hostile));
    for (const auto& [file, name, issuer] :
         {std::tuple{"agent.p12", "agent.test", &ca}, {"stranger.p12", "stranger.test", &other}}) {
      Pkcs12Params client;
      client.certificate = issued(*issuer, 60, name, 0x70);
      client.password = "s3cret";
      Write(file, MakePkcs12(client));
    }
  }

  static constexpr std::int64_t kDay = 86400;
  static inline const std::int64_t kNow = std::time(nullptr);

  // A certificate valid from `fromDays` days from kNow until `toDays` days
  // and an hour from kNow (negative: in the past).
  static CertificateParams Valid(std::int64_t fromDays, std::int64_t toDays, const std::string& name) {
    CertificateParams params;
    params.subject = {{"CN", name}};
    params.notBefore = GeneralizedTime(kNow + fromDays * kDay);
    params.notAfter = GeneralizedTime(kNow + toDays * kDay + 3600);
    return params;
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

  // SQLite's verdict on `store` (the test's store when empty): "ok" when it
  // is whole.
  std::string Integrity(const std::string& store = "") const;

  // Writes a record straight into `store` (the test's store when empty), as
  // a previous run, an older product or a damaged disk may have left it:
  // certctl refuses what has ended or cannot be read.
  void WriteRaw(ivo::PeerType type, const ozo::blob_t& blob, const std::string& store = "") const;
  void WriteRaw(ivo::PeerType type, const ivo::ClientCertificate& record, const std::string& store = "") const;

  TempDir m_dir;
  std::string m_store;
};

inline void CertctlTest::Write(const std::string& name, const ozo::blob_t& bytes) const {
  std::ofstream(Path(name), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// SQLite's verdict on an open database: "ok" when it is whole.
inline std::string IntegrityOf(sqlite3* db) {
  sqlite3_stmt* check = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
  const std::string verdict =
      sqlite3_step(check) == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(check, 0)) : "no row";
  sqlite3_finalize(check);
  return verdict;
}

inline std::string CertctlTest::Integrity(const std::string& store) const {
  ozo::ref_ptr<host::SqliteStore> opened;
  std::string error;
  if (host::SqliteStore::Open(store.empty() ? m_store : store, host::SqliteStore::Mode::ReadOnly, opened, error) != 0)
    return error;
  return IntegrityOf(opened->db());
}

// The entries of `folder` whose names start with `prefix`.
inline std::vector<std::string> Entries(const std::string& folder, const std::string& prefix = "") {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().filename().string().rfind(prefix, 0) == 0) names.push_back(entry.path().filename().string());
  return names;
}

namespace detail {
template <class Record>
void WriteRecord(const std::string& path, ivo::PeerType type, const Record& record) {
  ozo::ref_ptr<host::SqliteStore> store;
  std::string error;
  ASSERT_EQ(host::SqliteStore::Open(path, host::SqliteStore::Mode::ReadWrite, store, error), 0) << error;
  host::HostOptions options;
  options.store = store;
  host::ServiceHost host(std::move(options));
  ASSERT_EQ(host.WriteRecord(type, record), 0);
}
}  // namespace detail

inline void CertctlTest::WriteRaw(ivo::PeerType type, const ozo::blob_t& blob, const std::string& store) const {
  detail::WriteRecord(store.empty() ? m_store : store, type, ivo::ServerCertificate{blob});
}

inline void CertctlTest::WriteRaw(ivo::PeerType type, const ivo::ClientCertificate& record,
                                  const std::string& store) const {
  detail::WriteRecord(store.empty() ? m_store : store, type, record);
}

}  // namespace test
