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
// scheduled success code (> 0) is answered after the service's work.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
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

// What every wrapper holds: the reference host's service it wraps and the
// shared fault injector.
template <class Interface>
class Intercepted : public host::HostObject<Interface> {
 public:
  Intercepted(ozo::ref_ptr<Interface> inner, Faults faults) : m_inner(std::move(inner)), m_faults(std::move(faults)) {}

 protected:
  // Enters the injector under `operation`: a scheduled failure is answered
  // at once; else `body` runs, and a scheduled success code (> 0) is
  // answered in place of its success.
  template <class Body>
  ozo::result_t Call(std::string_view operation, Body body) {
    const ozo::result_t fault = m_faults->Enter(operation);
    if (ozo::Failed(fault)) return fault;
    const ozo::result_t result = body();
    return ozo::Failed(result) || !fault ? result : fault;
  }

  ozo::ref_ptr<Interface> m_inner;
  Faults m_faults;
};

// Records the sizes asked for; can answer new records with a success code
// (> 0) instead of 0, or refuse to enlarge a record.
class InterceptedTracer : public Intercepted<ozo::ITracer> {
 public:
  using Intercepted::Intercepted;
  ozo::result_t ReserveBuffer(std::uint32_t level, char** buffer, std::size_t size) override;
  ozo::result_t CommitBuffer(char* buffer, std::size_t length) override {
    return m_inner->CommitBuffer(buffer, length);
  }

  void SetAcceptCode(ozo::result_t code) { m_acceptCode = code; }
  void SetRefuseGrowth(bool refuse) { m_refuseGrowth = refuse; }
  History<std::size_t>& requests() { return m_requests; }

 private:
  std::atomic<ozo::result_t> m_acceptCode{0};
  std::atomic<bool> m_refuseGrowth{false};
  History<std::size_t> m_requests;
};

// Counts the blocks handed out and not yet freed. A reallocation moves the
// block (new block, copy, free), so its old bytes are released through Free.
class InterceptedAllocator : public Intercepted<ozo::IAllocator> {
 public:
  using Intercepted::Intercepted;
  void* Allocate(std::size_t size) override;
  void* Reallocate(void* pointer, std::size_t size) override;
  void Free(void* pointer) override;

  std::size_t liveBlocks() const;

 private:
  mutable std::mutex m_mutex;
  std::map<void*, std::size_t> m_blocks;
};

// Records every query the component asks.
class InterceptedPolicy : public Intercepted<ivo::IPolicyProvider> {
 public:
  struct Query {
    std::uint32_t settingId;
    std::vector<std::pair<std::string, std::string>> values;
    bool dependenciesPresent;
    bool anyFlagSet;
  };

  using Intercepted::Intercepted;
  ozo::result_t IsSettingLocked(std::uint32_t settingId, bool& locked) override {
    return m_inner->IsSettingLocked(settingId, locked);
  }
  ozo::result_t SetSettingLocked(std::uint32_t settingId, bool locked) override {
    return m_inner->SetSettingLocked(settingId, locked);
  }
  ozo::result_t CheckChangePermission(const ivo::PolicyChangeQuery* query, ozo::string16_t* reason) override;

  History<Query>& queries() { return m_queries; }

 private:
  History<Query> m_queries;
};

// Records every event the component publishes.
class InterceptedPublisher : public Intercepted<ivo::IEventPublisher> {
 public:
  using Intercepted::Intercepted;
  ozo::result_t Publish(const ivo::CertificateEvent* event) override {
    return Call("IEventPublisher::Publish", [&] {
      if (event) m_events.Add([&] { return *event; });
      return m_inner->Publish(event);
    });
  }

  History<ivo::CertificateEvent>& events() { return m_events; }

 private:
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
class InterceptedSerializer : public Intercepted<ozo::IStorageSerializer2> {
 public:
  using Intercepted::Intercepted;
  ozo::result_t Serialize(ozo::any_descr_ptr_t* value, ozo::IStorage* node, std::uint32_t flags,
                          void* reserved) override;
  ozo::result_t Deserialize(ozo::any_struct_t* value, ozo::IStorage* node, std::uint32_t flags,
                            void* reserved) override {
    return Call("IStorageSerializer2::Deserialize", [&] { return m_inner->Deserialize(value, node, flags, reserved); });
  }

  void FillHolders(ozo::ref_ptr<ozo::IObject> holder) { m_holder = std::move(holder); }

 private:
  ozo::ref_ptr<ozo::IObject> m_holder;
};

class InterceptedPrimaryMeta : public Intercepted<ozo::IMetaInfoProvider> {
 public:
  using Intercepted::Intercepted;
  ozo::result_t GetStructDescriptor(std::uint32_t typeId, const ozo::StructDescriptor** descriptor) override {
    return Call("IMetaInfoProvider::GetStructDescriptor",
                [&] { return m_inner->GetStructDescriptor(typeId, descriptor); });
  }
};

class InterceptedSecondaryMeta : public Intercepted<ozo::IMetaInfoProvider2> {
 public:
  using Intercepted::Intercepted;
  ozo::result_t GetStructDescriptorsCount(std::uint32_t& count) override {
    return m_inner->GetStructDescriptorsCount(count);
  }
  ozo::result_t FindStructDescriptor(std::uint32_t typeId, const ozo::StructDescriptor** descriptor) override {
    return Call("IMetaInfoProvider2::FindStructDescriptor",
                [&] { return m_inner->FindStructDescriptor(typeId, descriptor); });
  }
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
