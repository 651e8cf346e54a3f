#include "tests/support/lifecycle_fixture.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <atomic>

#include "host/lifecycle/records.h"
#include "host/lifecycle/trust.h"
#include "ossl/pkcs12.h"
#include "ossl/text.h"
#include "ozo/module.h"
#include "tests/support/manager_fixture.h"

namespace test {

using ossl::UniquePtr;
using ozo::result_t;
namespace lifecycle = host::lifecycle;

namespace {

void AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  const UniquePtr<X509_EXTENSION> extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  if (extension) X509_add_ext(certificate, extension.get(), -1);
}

// A certificate for `key` named `name`, signed by `signer` (its own when
// `issuer` is null).
UniquePtr<X509> Certificate(EVP_PKEY* key, const std::string& name, X509* issuer, EVP_PKEY* signer, std::int64_t from,
                            int days, bool ca, Usages usages = {}) {
  static std::atomic<long> serial{100};
  UniquePtr<X509> certificate(X509_new());
  X509* made = certificate.get();
  X509_set_version(made, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(made), serial++);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(made), "CN", MBSTRING_UTF8,
                             reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
  X509_set_issuer_name(made, issuer ? X509_get_subject_name(issuer) : X509_get_subject_name(made));
  ASN1_TIME_set(X509_getm_notBefore(made), static_cast<time_t>(from));
  ASN1_TIME_set(X509_getm_notAfter(made), static_cast<time_t>(from + days * 86400LL));
  X509_set_pubkey(made, key);
  if (usages.basicConstraints)
    AddExtension(made, issuer ? issuer : made, NID_basic_constraints, ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
  AddExtension(made, issuer ? issuer : made, NID_key_usage,
               usages.keyUsage ? usages.keyUsage
               : ca            ? "critical,keyCertSign,cRLSign,digitalSignature"
                               : "critical,digitalSignature");
  if (usages.extendedKeyUsage || !ca)
    AddExtension(made, issuer ? issuer : made, NID_ext_key_usage,
                 usages.extendedKeyUsage ? usages.extendedKeyUsage : "clientAuth");
  X509_sign(made, signer, EVP_sha256());
  return certificate;
}

}  // namespace

UniquePtr<EVP_PKEY> NewTestKey() { return UniquePtr<EVP_PKEY>(EVP_EC_gen("P-256")); }

TestCa::TestCa(const std::string& name) : m_key(NewTestKey()) {
  m_certificate = Certificate(m_key.get(), name, nullptr, m_key.get(), 1500000000, 36500, true);
}

std::string TestCa::Pem() const { return ossl::PemOf({m_certificate.get()}); }

std::string TestCa::Issue(EVP_PKEY* key, const std::string& name, std::int64_t from, int days, bool ca) const {
  return ossl::PemOf({IssueCertificate(key, name, from, days, ca).get()});
}

UniquePtr<X509> TestCa::IssueCertificate(EVP_PKEY* key, const std::string& name, std::int64_t from, int days, bool ca,
                                         Usages usages) const {
  return Certificate(key, name, m_certificate.get(), m_key.get(), from, days, ca, usages);
}

UniquePtr<X509> TestCa::CrossSignedBy(const TestCa& issuer) const {
  const std::string name = ossl::NameText(X509_get_subject_name(m_certificate.get())).substr(3);  // after "CN="
  return Certificate(m_key.get(), name, issuer.m_certificate.get(), issuer.m_key.get(), std::time(nullptr) - 86400, 365,
                     true);
}

bool FaultyLifecycleStore::Fails(const std::string& call) {
  m_calls.push_back(call);
  const int count = ++m_counts[call];
  const auto failing = m_failing.find(call);
  return failing != m_failing.end() && failing->second == count;
}

result_t FaultyLifecycleStore::Begin() { return Fails("Begin") ? ozo::results::Locked : m_store.Begin(); }
result_t FaultyLifecycleStore::Commit() {
  if (!Fails("Commit")) return m_store.Commit();
  m_store.Rollback();
  return ozo::results::MediaError;
}
void FaultyLifecycleStore::Rollback() {
  m_calls.push_back("Rollback");
  m_store.Rollback();
}

// The rest only count and fail, or pass on to the store.
constexpr result_t kFailed = ozo::results::MediaError;
result_t FaultyLifecycleStore::GetPendingKey(ivo::PeerType t, lifecycle::PendingKey& p) {
  return Fails("GetPendingKey") ? kFailed : m_store.GetPendingKey(t, p);
}
result_t FaultyLifecycleStore::PutPendingKey(ivo::PeerType t, const lifecycle::PendingKey& p) {
  return Fails("PutPendingKey") ? kFailed : m_store.PutPendingKey(t, p);
}
result_t FaultyLifecycleStore::RemovePendingKey(ivo::PeerType t) {
  return Fails("RemovePendingKey") ? kFailed : m_store.RemovePendingKey(t);
}
result_t FaultyLifecycleStore::GetRenewalConfig(ivo::PeerType t, lifecycle::RenewalConfig& c) {
  return Fails("GetRenewalConfig") ? kFailed : m_store.GetRenewalConfig(t, c);
}
result_t FaultyLifecycleStore::PutRenewalConfig(ivo::PeerType t, const lifecycle::RenewalConfig& c) {
  return Fails("PutRenewalConfig") ? kFailed : m_store.PutRenewalConfig(t, c);
}
result_t FaultyLifecycleStore::RemoveRenewalConfig(ivo::PeerType t) {
  return Fails("RemoveRenewalConfig") ? kFailed : m_store.RemoveRenewalConfig(t);
}
result_t FaultyLifecycleStore::RenewalConfigs(std::map<ivo::PeerType, lifecycle::RenewalConfig>& c) {
  return Fails("RenewalConfigs") ? kFailed : m_store.RenewalConfigs(c);
}
result_t FaultyLifecycleStore::PendingKeyTypes(std::map<ivo::PeerType, std::int64_t>& c) {
  return Fails("PendingKeyTypes") ? kFailed : m_store.PendingKeyTypes(c);
}
result_t FaultyLifecycleStore::GetRenewalState(ivo::PeerType t, lifecycle::RenewalState& s) {
  return Fails("GetRenewalState") ? kFailed : m_store.GetRenewalState(t, s);
}
result_t FaultyLifecycleStore::PutRenewalState(ivo::PeerType t, const lifecycle::RenewalState& s) {
  return Fails("PutRenewalState") ? kFailed : m_store.PutRenewalState(t, s);
}
result_t FaultyLifecycleStore::RemoveRenewalState(ivo::PeerType t) {
  return Fails("RemoveRenewalState") ? kFailed : m_store.RemoveRenewalState(t);
}
result_t FaultyLifecycleStore::IsSettingLocked(std::uint32_t id, bool& locked) {
  return Fails("IsSettingLocked") ? kFailed : m_store.IsSettingLocked(id, locked);
}
result_t FaultyLifecycleStore::Journal(const ivo::CertificateEvent& record) {
  return Fails("Journal") ? kFailed : m_store.Journal(record);
}

lifecycle::CaAnswer ScriptedCa::Request(const lifecycle::CaRequest& request) {
  if (meanwhile) meanwhile();
  ++asked;
  const std::string name = request.certificate ? "agent.test" : "enrolled.test";
  const UniquePtr<EVP_PKEY> other = NewTestKey();
  switch (answer) {
    case Answer::Refuse:
      return {false, "", "request rejected by server: PKIStatus: rejection", ""};
    case Answer::IssueForAnotherKey:
      return {true, m_issuer.Issue(other.get(), name, m_now - 60, 30), "", ""};
    case Answer::IssueFromAnotherCa:
      return {true, m_stranger.Issue(request.newKey, name, m_now - 60, 30), "", ""};
    case Answer::IssueCaCertificate:
      return {true, m_issuer.Issue(request.newKey, name, m_now - 60, 30, true), "", ""};
    case Answer::Issue:
      break;
  }
  return {true, m_issuer.Issue(request.newKey, name, m_now - 60, 30), "", ""};
}

LifecycleTest::LifecycleTest() {
  std::string error;
  EXPECT_EQ(host::SqliteStore::Open(m_dir.File("store.db"), host::SqliteStore::Mode::ReadWrite, m_sqlite, error), 0)
      << error;
  host::HostOptions options;
  options.store = m_sqlite;
  m_host = std::make_unique<host::ServiceHost>(std::move(options));
  ozo::ref_ptr<ozo::IObject> object;
  EXPECT_EQ(ozoCreateObject(ivo::ClsIdCertificatesManager, m_host->locatorAddress(), object.Ref()), 0);
  EXPECT_EQ(ozo::QueryInterface(object.get(), m_manager), 0);
  const std::string anchor = m_ca.Pem();
  EXPECT_EQ(
      m_manager->SetServerCertificate(kType, ivo::ServerCertificate{ozo::blob_t(anchor.data(), anchor.size())}, User()),
      0);
  StorePair();
  m_store = std::make_unique<FaultyLifecycleStore>(*m_sqlite);
}

LifecycleTest::~LifecycleTest() {
  m_sqlite->RollbackWork();
  m_manager.Reset();
}

void LifecycleTest::StorePair(int days) {
  const UniquePtr<EVP_PKEY> key = NewTestKey();
  const std::vector<UniquePtr<X509>> certificate =
      ossl::ReadCertificates(m_ca.Issue(key.get(), "agent.test", kNow - 86400, days));
  const std::string container = ossl::MakeContainer(key.get(), certificate.front().get(), {}, "s3cret");
  EXPECT_EQ(
      m_manager->SetClientCertificate(
          kType, ivo::ClientCertificate(ozo::blob_t(container.data(), container.size()), ozo::string8_t("s3cret")),
          User()),
      0);
}

std::string LifecycleTest::SlotSerial() {
  ivo::ClientCertificate record;
  if (m_manager->GetClientCertificate(kType, record) != 0) return "";
  ossl::Container container;
  ossl::OpenContainer(
      std::string_view(reinterpret_cast<const char*>(record.certificate.data()), record.certificate.size()),
      record.password.c_str(), container);
  return container.certificate ? ossl::SerialHex(container.certificate.get()) : "unreadable";
}

std::string LifecycleTest::Pending() {
  lifecycle::PendingKey pending;
  if (m_sqlite->pendingKeys().Get(kType, pending) != 0) return "";
  return pending.certificates.empty() ? "key" : "key+certificate";
}

lifecycle::RenewalState LifecycleTest::State() {
  lifecycle::RenewalState state;
  m_sqlite->renewalStates().Get(kType, state);
  return state;
}

}  // namespace test
