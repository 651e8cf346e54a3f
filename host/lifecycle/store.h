// What the lifecycle works on besides the component: the tables it keeps
// beside the component's records, the policy's locks, the journal, and the
// units of work that make its steps durable. The reference host's SQLite
// store gives them (SqliteLifecycleStore); a host of its own implements the
// interface, and tests give one that fails any step.
#pragma once

#include <cstdint>
#include <map>

#include "host/lifecycle/records.h"
#include "host/status.h"
#include "ivo/certificate_type_table.h"
#include "ivo/events.h"
#include "ozo/result.h"

namespace host {
class SqliteStore;
}

namespace host::lifecycle {

class LifecycleStore {
 public:
  virtual ~LifecycleStore() = default;

  // A unit of work holds every change until Commit, the component's
  // records included (the store behind the component must be the same): a
  // process that dies before the commit keeps none of them. Begin waits for
  // other writers as the store does; Commit fails (keeping nothing) when a
  // change of the unit failed.
  virtual ozo::result_t Begin() = 0;
  virtual ozo::result_t Commit() = 0;
  // Drops the unit's changes; nothing happens without one.
  virtual void Rollback() = 0;
  // Whether the calling thread has a unit of work open.
  virtual bool InWork() = 0;
  // Why the store failed, in its own words ("disk I/O error"); empty when
  // it has not.
  virtual std::string FailureWords() = 0;

  // "Not found" when the slot has none; Remove* too when there was none.
  virtual ozo::result_t GetPendingKey(ivo::PeerType type, PendingKey& pending) = 0;
  virtual ozo::result_t PutPendingKey(ivo::PeerType type, const PendingKey& pending) = 0;
  virtual ozo::result_t RemovePendingKey(ivo::PeerType type) = 0;
  virtual ozo::result_t GetRenewalConfig(ivo::PeerType type, RenewalConfig& config) = 0;
  virtual ozo::result_t PutRenewalConfig(ivo::PeerType type, const RenewalConfig& config) = 0;
  virtual ozo::result_t RemoveRenewalConfig(ivo::PeerType type) = 0;
  // Every type's settings, and the types with a pending key (when each
  // was made), by type.
  virtual ozo::result_t RenewalConfigs(std::map<ivo::PeerType, RenewalConfig>& configs) = 0;
  virtual ozo::result_t PendingKeyTypes(std::map<ivo::PeerType, std::int64_t>& created) = 0;
  virtual ozo::result_t GetRenewalState(ivo::PeerType type, RenewalState& state) = 0;
  virtual ozo::result_t PutRenewalState(ivo::PeerType type, const RenewalState& state) = 0;
  virtual ozo::result_t RemoveRenewalState(ivo::PeerType type) = 0;

  // Whether the policy locks a setting (a PeerType's ids) against local
  // change.
  virtual ozo::result_t IsSettingLocked(std::uint32_t settingId, bool& locked) = 0;
  // Keeps an operation record (journal_records.h) in the journal.
  virtual ozo::result_t Journal(const ivo::CertificateEvent& record) = 0;
};

// The lifecycle tables of the reference host's store.
class SqliteLifecycleStore : public LifecycleStore {
 public:
  explicit SqliteLifecycleStore(SqliteStore& store) : m_store(store) {}

  ozo::result_t Begin() override;
  ozo::result_t Commit() override;
  void Rollback() override;
  bool InWork() override;
  std::string FailureWords() override;
  ozo::result_t GetPendingKey(ivo::PeerType type, PendingKey& pending) override;
  ozo::result_t PutPendingKey(ivo::PeerType type, const PendingKey& pending) override;
  ozo::result_t RemovePendingKey(ivo::PeerType type) override;
  ozo::result_t GetRenewalConfig(ivo::PeerType type, RenewalConfig& config) override;
  ozo::result_t PutRenewalConfig(ivo::PeerType type, const RenewalConfig& config) override;
  ozo::result_t RemoveRenewalConfig(ivo::PeerType type) override;
  ozo::result_t RenewalConfigs(std::map<ivo::PeerType, RenewalConfig>& configs) override;
  ozo::result_t PendingKeyTypes(std::map<ivo::PeerType, std::int64_t>& created) override;
  ozo::result_t GetRenewalState(ivo::PeerType type, RenewalState& state) override;
  ozo::result_t PutRenewalState(ivo::PeerType type, const RenewalState& state) override;
  ozo::result_t RemoveRenewalState(ivo::PeerType type) override;
  ozo::result_t IsSettingLocked(std::uint32_t settingId, bool& locked) override;
  ozo::result_t Journal(const ivo::CertificateEvent& record) override;

 private:
  SqliteStore& m_store;
};

// `result` (a failure of `store`'s) with the store's words.
Status StoreFailure(LifecycleStore& store, ozo::result_t result);

// The refusal of a call that opens its own units of work when the calling
// thread has one open; success otherwise.
Status NoUnitOpen(LifecycleStore& store);

}  // namespace host::lifecycle
