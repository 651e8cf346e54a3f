// The client certificate's lifecycle under test: a store in a temporary
// folder with the component's manager over it, a CA of the test's making,
// and the library's seams (the store's steps, the CA, the trial, the hook,
// the clock) in the test's hands, each of which can be made to fail.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/lifecycle/ca.h"
#include "host/lifecycle/store.h"
#include "host/service_host.h"
#include "host/storage/sqlite_store.h"
#include "ivo/certificate_type_table.h"
#include "ivo/certificates_manager.h"
#include "ossl/holders.h"
#include "tests/support/temp_dir.h"

namespace test {

// The usages of a certificate, in openssl's words ("critical,digitalSignature",
// "clientAuth"); null: a client certificate's (a CA's for a CA).
struct Usages {
  const char* keyUsage = nullptr;
  const char* extendedKeyUsage = nullptr;
  bool basicConstraints = true;  // false: none, as a version 3 leaf may have
};

// A CA made with the OpenSSL API: a self-signed CA certificate and key, and
// certificates it signs for any key.
class TestCa {
 public:
  explicit TestCa(const std::string& name);
  // The same CA (name and key) as a certificate `issuer` signed: a
  // cross-signed version of it.
  ossl::UniquePtr<X509> CrossSignedBy(const TestCa& issuer) const;
  X509* certificate() const { return m_certificate.get(); }
  EVP_PKEY* key() const { return m_key.get(); }
  std::string Pem() const;
  // A certificate for `key`'s public half, issued now by this CA to CN=`name`
  // for `days` (from `from`, seconds since 1970), for TLS client use; a CA
  // certificate when `ca`. PEM.
  std::string Issue(EVP_PKEY* key, const std::string& name, std::int64_t from, int days, bool ca = false) const;
  ossl::UniquePtr<X509> IssueCertificate(EVP_PKEY* key, const std::string& name, std::int64_t from, int days,
                                         bool ca = false, Usages usages = {}) const;

 private:
  ossl::UniquePtr<EVP_PKEY> m_key;
  ossl::UniquePtr<X509> m_certificate;
};

// A new P-256 key.
ossl::UniquePtr<EVP_PKEY> NewTestKey();

// The lifecycle's tables of a real SQLite store, whose `nth` call of a step
// ("PutPendingKey", "Commit", ...) fails as a full disk would: the call
// does nothing and says "Media error" (a failed commit drops its unit).
class FaultyLifecycleStore : public host::lifecycle::LifecycleStore {
 public:
  explicit FaultyLifecycleStore(host::SqliteStore& store) : m_store(store) {}
  void FailAt(const std::string& call, int nth = 1) { m_failing[call] = nth; }
  // Every call made, by name, in order.
  const std::vector<std::string>& calls() const { return m_calls; }

  ozo::result_t Begin() override;
  ozo::result_t Commit() override;
  void Rollback() override;
  ozo::result_t GetPendingKey(ivo::PeerType type, host::lifecycle::PendingKey& pending) override;
  ozo::result_t PutPendingKey(ivo::PeerType type, const host::lifecycle::PendingKey& pending) override;
  ozo::result_t RemovePendingKey(ivo::PeerType type) override;
  ozo::result_t GetRenewalConfig(ivo::PeerType type, host::lifecycle::RenewalConfig& config) override;
  ozo::result_t PutRenewalConfig(ivo::PeerType type, const host::lifecycle::RenewalConfig& config) override;
  ozo::result_t RemoveRenewalConfig(ivo::PeerType type) override;
  ozo::result_t RenewalConfigs(std::map<ivo::PeerType, host::lifecycle::RenewalConfig>& configs) override;
  ozo::result_t PendingKeyTypes(std::map<ivo::PeerType, std::int64_t>& created) override;
  ozo::result_t GetRenewalState(ivo::PeerType type, host::lifecycle::RenewalState& state) override;
  ozo::result_t PutRenewalState(ivo::PeerType type, const host::lifecycle::RenewalState& state) override;
  bool InWork() override { return m_store.InWork(); }
  std::string FailureWords() override { return m_store.FailureWords(); }
  ozo::result_t RemoveRenewalState(ivo::PeerType type) override;
  ozo::result_t IsSettingLocked(std::uint32_t settingId, bool& locked) override;
  ozo::result_t Journal(const ivo::CertificateEvent& record) override;

 private:
  // Whether this call is the one to fail.
  bool Fails(const std::string& call);

  host::lifecycle::SqliteLifecycleStore m_store;
  std::map<std::string, int> m_failing;
  std::map<std::string, int> m_counts;
  std::vector<std::string> m_calls;
};

// A CA that answers as the test says, with certificates of `issuer` for the
// key asked about (or another).
class ScriptedCa : public host::lifecycle::CertificateAuthority {
 public:
  enum class Answer { Issue, Refuse, IssueForAnotherKey, IssueFromAnotherCa, IssueCaCertificate };
  ScriptedCa(const TestCa& issuer, const TestCa& stranger, std::int64_t now)
      : m_issuer(issuer), m_stranger(stranger), m_now(now) {}
  Answer answer = Answer::Issue;
  std::function<void()> meanwhile;  // what else happens while the CA answers
  int asked = 0;
  host::lifecycle::CaAnswer Request(const host::lifecycle::CaRequest& request) override;

 private:
  const TestCa& m_issuer;
  const TestCa& m_stranger;
  std::int64_t m_now;
};

class LifecycleTest : public testing::Test {
 protected:
  static constexpr ivo::PeerType kType = *ivo::PeerType::From(1);  // edr
  // The run's clock: now, since the component judges stored certificates
  // by the system's.
  const std::int64_t kNow = std::time(nullptr);

  LifecycleTest();
  ~LifecycleTest() override;

  // What the slot holds: its client certificate's serial (hex), "" when
  // empty.
  std::string SlotSerial();
  // The pending key's state: "" when none, "key" or "key+certificate".
  std::string Pending();
  host::lifecycle::RenewalState State();
  // Stores a pair of the CA's for the slot, ending `days` from kNow.
  void StorePair(int days = 90);

  TempDir m_dir;
  ozo::ref_ptr<host::SqliteStore> m_sqlite;
  std::unique_ptr<host::ServiceHost> m_host;
  ozo::ref_ptr<ivo::ICertificatesManager> m_manager;
  std::unique_ptr<FaultyLifecycleStore> m_store;
  TestCa m_ca{"Test CA"};
  TestCa m_stranger{"Stranger CA"};
  ScriptedCa m_authority{m_ca, m_stranger, kNow};
};

}  // namespace test
