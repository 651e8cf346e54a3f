// The lifecycle's tables of a real SQLite store, whose steps fail on
// demand: a test of a host's crash and failure handling without a full disk.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/lifecycle/store.h"
#include "host/storage/sqlite_store.h"

namespace host::testing {

// Forwards every call to SqliteLifecycleStore over `store`, but the `nth`
// call of a step named in FailAt ("PutPendingKey", "Commit", ...), which
// does nothing and says "Media error" as a full disk would (a failed Commit
// drops its unit; a failed Begin says "Locked"). Not thread-safe.
class FaultyLifecycleStore : public lifecycle::LifecycleStore {
 public:
  explicit FaultyLifecycleStore(SqliteStore& store) : m_store(store) {}
  void FailAt(const std::string& call, int nth = 1) { m_failing[call] = nth; }
  // Every call made, by name, in order.
  const std::vector<std::string>& calls() const { return m_calls; }

  ozo::result_t Begin() override;
  ozo::result_t Commit() override;
  void Rollback() override;
  ozo::result_t GetPendingKey(ivo::PeerType type, lifecycle::PendingKey& pending) override;
  ozo::result_t PutPendingKey(ivo::PeerType type, const lifecycle::PendingKey& pending) override;
  ozo::result_t RemovePendingKey(ivo::PeerType type) override;
  ozo::result_t GetRenewalConfig(ivo::PeerType type, lifecycle::RenewalConfig& config) override;
  ozo::result_t PutRenewalConfig(ivo::PeerType type, const lifecycle::RenewalConfig& config) override;
  ozo::result_t RemoveRenewalConfig(ivo::PeerType type) override;
  ozo::result_t RenewalConfigs(std::map<ivo::PeerType, lifecycle::RenewalConfig>& configs) override;
  ozo::result_t PendingKeyTypes(std::map<ivo::PeerType, std::int64_t>& created) override;
  ozo::result_t GetRenewalState(ivo::PeerType type, lifecycle::RenewalState& state) override;
  ozo::result_t PutRenewalState(ivo::PeerType type, const lifecycle::RenewalState& state) override;
  bool InWork() override { return m_store.InWork(); }
  std::string FailureWords() override { return m_store.FailureWords(); }
  ozo::result_t RemoveRenewalState(ivo::PeerType type) override;
  ozo::result_t IsSettingLocked(std::uint32_t settingId, bool& locked) override;
  ozo::result_t Journal(const ivo::CertificateEvent& record) override;

 private:
  // Whether this call is the one to fail.
  bool Fails(const std::string& call);

  lifecycle::SqliteLifecycleStore m_store;
  std::map<std::string, int> m_failing;
  std::map<std::string, int> m_counts;
  std::vector<std::string> m_calls;
};

}  // namespace host::testing
