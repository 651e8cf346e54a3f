// Wrappers around the reference host's services, for tests: each call of the
// component enters the fault injector under the operation's name (and fails
// when a failure is scheduled for it), and what tests inspect is recorded
// here, so the shipped services carry no test hooks. Operation names:
// "ITracer::ReserveBuffer[/grow]", "IAllocator::Allocate|Reallocate",
// "IPolicyProvider::CheckChangePermission", "IEventPublisher::Publish",
// "IStorageSerializer2::Serialize|Deserialize",
// "IMetaInfoProvider::GetStructDescriptor",
// "IMetaInfoProvider2::FindStructDescriptor",
// "IServiceLocator::GetInterface/<iid, 8 lowercase hex digits>" and those of
// intercepted_storage.h. A scheduled failure is answered at once; a
// scheduled success code (> 0) of the serializer is answered after its work.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "host/host_object.h"
#include "host/services/service_locator.h"
#include "ivo/events.h"
#include "ivo/policy.h"
#include "ivo/storage_mutex.h"
#include "ozo/services.h"
#include "ozo/storage.h"
#include "tests/support/fault_injector.h"
#include "tests/support/history.h"

namespace test {

using Faults = std::shared_ptr<FaultInjector>;

// Records the sizes asked for; can answer new records with a success code
// (> 0) instead of 0, or refuse to enlarge a record.
class InterceptedTracer : public host::HostObject<ozo::ITracer> {
 public:
  InterceptedTracer(ozo::ref_ptr<ozo::ITracer> inner, Faults faults)
      : m_inner(std::move(inner)), m_faults(std::move(faults)) {}

  ozo::result_t ReserveBuffer(std::uint32_t level, char** buffer, std::size_t size) override;
  ozo::result_t CommitBuffer(char* buffer, std::size_t length) override {
    return m_inner->CommitBuffer(buffer, length);
  }

  void SetAcceptCode(ozo::result_t code) { m_acceptCode = code; }
  void SetRefuseGrowth(bool refuse) { m_refuseGrowth = refuse; }
  History<std::size_t>& requests() { return m_requests; }

 private:
  ozo::ref_ptr<ozo::ITracer> m_inner;
  Faults m_faults;
  std::atomic<ozo::result_t> m_acceptCode{0};
  std::atomic<bool> m_refuseGrowth{false};
  History<std::size_t> m_requests;
};

// Counts the blocks handed out and not yet freed. A reallocation moves the
// block (new block, copy, free), so its old bytes are released through Free.
class InterceptedAllocator : public host::HostObject<ozo::IAllocator> {
 public:
  InterceptedAllocator(ozo::ref_ptr<ozo::IAllocator> inner, Faults faults)
      : m_inner(std::move(inner)), m_faults(std::move(faults)) {}

  void* Allocate(std::size_t size) override;
  void* Reallocate(void* pointer, std::size_t size) override;
  void Free(void* pointer) override;

  std::size_t liveBlocks() const;

 private:
  ozo::ref_ptr<ozo::IAllocator> m_inner;
  Faults m_faults;
  mutable std::mutex m_mutex;
  std::map<void*, std::size_t> m_blocks;
};

// Records every query the component asks.
class InterceptedPolicy : public host::HostObject<ivo::IPolicyProvider> {
 public:
  struct Query {
    std::uint32_t settingId;
    std::vector<std::pair<std::string, std::string>> values;
    bool dependenciesPresent;
    bool anyFlagSet;
  };

  InterceptedPolicy(ozo::ref_ptr<ivo::IPolicyProvider> inner, Faults faults)
      : m_inner(std::move(inner)), m_faults(std::move(faults)) {}

  ozo::result_t IsSettingLocked(std::uint32_t settingId, bool& locked) override {
    return m_inner->IsSettingLocked(settingId, locked);
  }
  ozo::result_t SetSettingLocked(std::uint32_t settingId, bool locked) override {
    return m_inner->SetSettingLocked(settingId, locked);
  }
  ozo::result_t CheckChangePermission(const ivo::PolicyChangeQuery* query, ozo::string16_t* reason) override;

  History<Query>& queries() { return m_queries; }

 private:
  ozo::ref_ptr<ivo::IPolicyProvider> m_inner;
  Faults m_faults;
  History<Query> m_queries;
};

// Records every event the component publishes.
class InterceptedPublisher : public host::HostObject<ivo::IEventPublisher> {
 public:
  InterceptedPublisher(ozo::ref_ptr<ivo::IEventPublisher> inner, Faults faults)
      : m_inner(std::move(inner)), m_faults(std::move(faults)) {}

  ozo::result_t Publish(const ivo::CertificateEvent* event) override;

  History<ivo::CertificateEvent>& events() { return m_events; }

 private:
  ozo::ref_ptr<ivo::IEventPublisher> m_inner;
  Faults m_faults;
  History<ivo::CertificateEvent> m_events;
};

// Records the acquisitions by kind, and counts a thread taking a storage
// mutex while it holds one (which would deadlock or break the one-lock-per-
// operation rule; the attempt then blocks as a real mutex would).
class InterceptedMutex : public host::HostObject<ivo::IStorageMutex> {
 public:
  enum class Kind { Exclusive, Shared };

  explicit InterceptedMutex(ozo::ref_ptr<ivo::IStorageMutex> inner) : m_inner(std::move(inner)) {}

  void lock() override;
  void unlock() override;
  void lock_shared() override;
  bool try_lock_shared() override;
  void unlock_shared() override;

  History<Kind>& acquisitions() { return m_acquisitions; }
  std::uint64_t nestedAcquisitions() const { return m_nested.load(); }
  void ClearRecord();

 private:
  void Record(Kind kind);

  ozo::ref_ptr<ivo::IStorageMutex> m_inner;
  History<Kind> m_acquisitions;
  std::atomic<std::uint64_t> m_nested{0};
};

// Can fill the holder of every structure it serializes with a reference to
// `holder`, as a host whose serializer keeps a structure alive does.
class InterceptedSerializer : public host::HostObject<ozo::IStorageSerializer2> {
 public:
  InterceptedSerializer(ozo::ref_ptr<ozo::IStorageSerializer2> inner, Faults faults)
      : m_inner(std::move(inner)), m_faults(std::move(faults)) {}

  ozo::result_t Serialize(ozo::any_descr_ptr_t* value, ozo::IStorage* node, std::uint32_t flags,
                          void* reserved) override;
  ozo::result_t Deserialize(ozo::any_struct_t* value, ozo::IStorage* node, std::uint32_t flags,
                            void* reserved) override;

  void FillHolders(ozo::ref_ptr<ozo::IObject> holder) { m_holder = std::move(holder); }

 private:
  ozo::ref_ptr<ozo::IStorageSerializer2> m_inner;
  Faults m_faults;
  ozo::ref_ptr<ozo::IObject> m_holder;
};

class InterceptedPrimaryMeta : public host::HostObject<ozo::IMetaInfoProvider> {
 public:
  InterceptedPrimaryMeta(ozo::ref_ptr<ozo::IMetaInfoProvider> inner, Faults faults)
      : m_inner(std::move(inner)), m_faults(std::move(faults)) {}
  ozo::result_t GetStructDescriptor(std::uint32_t typeId, const ozo::StructDescriptor** descriptor) override;

 private:
  ozo::ref_ptr<ozo::IMetaInfoProvider> m_inner;
  Faults m_faults;
};

class InterceptedSecondaryMeta : public host::HostObject<ozo::IMetaInfoProvider2> {
 public:
  InterceptedSecondaryMeta(ozo::ref_ptr<ozo::IMetaInfoProvider2> inner, Faults faults)
      : m_inner(std::move(inner)), m_faults(std::move(faults)) {}
  ozo::result_t GetStructDescriptorsCount(std::uint32_t& count) override {
    return m_inner->GetStructDescriptorsCount(count);
  }
  ozo::result_t FindStructDescriptor(std::uint32_t typeId, const ozo::StructDescriptor** descriptor) override;

 private:
  ozo::ref_ptr<ozo::IMetaInfoProvider2> m_inner;
  Faults m_faults;
};

// Hands out the intercepted services (from a reference-host locator of its
// own); a withheld one is "Interface not supported", as a host without it
// answers.
class InterceptingLocator : public host::HostObject<ozo::IServiceLocator> {
 public:
  explicit InterceptingLocator(Faults faults);

  ozo::result_t GetInterface(ozo::iid_t iid, std::uint32_t serviceKey, void** out) override;

  host::ServiceLocator& services() { return *m_services; }
  void Withhold(ozo::iid_t iid, bool withheld);

 private:
  Faults m_faults;
  ozo::ref_ptr<host::ServiceLocator> m_services;
  std::mutex m_mutex;
  std::set<ozo::iid_t> m_withheld;
};

}  // namespace test
