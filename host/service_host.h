// A complete host: every service a component asks for, wired into one
// service locator.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "host/services/allocator.h"
#include "host/services/event_publisher.h"
#include "host/services/policy_provider.h"
#include "host/services/service_locator.h"
#include "host/services/tracer.h"
#include "host/storage/memory_storage.h"
#include "host/storage/meta_info.h"
#include "host/storage/serializer.h"
#include "host/storage/storage_mutex.h"
#include "ivo/certificate_type_table.h"

namespace host {

struct HostOptions {
  std::uint32_t traceThreshold = 1000;  // highest level the tracer accepts
  // The store whose tree for the certificates manager's class id is handed
  // out as the storage root; a fresh in-memory store when null.
  ozo::ref_ptr<ozo::IPersistentStorage> store;
  // For a store that is a SqliteStore: the policy's locks are the store's
  // (read at each question, so a lock another process sets, such as
  // certctl policy lock, holds at once; set through the provider, written
  // there), and every event published is appended to the store's journal
  // (within the store's unit of work, when one is open). A host that wants
  // neither says so here; no other store does either.
  bool policyLocksInStore = true;
  bool journalEventsInStore = true;
};

class ServiceHost {
 public:
  explicit ServiceHost(HostOptions options = {});
  ~ServiceHost();
  ServiceHost(const ServiceHost&) = delete;
  ServiceHost& operator=(const ServiceHost&) = delete;

  ozo::IServiceLocator* locator() const noexcept { return m_locator.get(); }
  // Every service the locator hands out, by interface id.
  std::map<ozo::iid_t, ozo::ref_ptr<ozo::IObject>> services() const { return m_locator->services(); }
  // The address ozoCreateObject takes.
  ozo::IServiceLocator** locatorAddress() noexcept { return &m_locatorPointer; }

  Tracer& tracer() const noexcept { return *m_tracer; }
  Allocator& allocator() const noexcept { return *m_allocator; }
  PolicyProvider& policy() const noexcept { return *m_policy; }
  EventPublisher& events() const noexcept { return *m_events; }
  StorageMutex& storageMutex() const noexcept { return *m_mutex; }
  ozo::IPersistentStorage* store() const noexcept { return m_store.get(); }
  // The certificates manager's tree in the store.
  ozo::IStorage* storageRoot() const noexcept { return m_root.get(); }
  const std::shared_ptr<DescriptorRegistry>& registry() const noexcept { return m_registry; }

  // Writes `record` into the certificates manager's tree as the stored
  // certificate of `type` (1 to 4), laid out as the component lays it out and
  // replacing what that slot held: how tools and tests prepare a store
  // without going through the component. The first failing call's result.
  ozo::result_t WriteRecord(ivo::PeerType type, const ivo::ServerCertificate& record);
  ozo::result_t WriteRecord(ivo::PeerType type, const ivo::ClientCertificate& record);
  // Reads the stored record of `type` as the component reads it, without
  // decoding the certificate: "Not found" when the slot is empty, the
  // serializer's failure when its node holds no record of that kind.
  ozo::result_t ReadRecord(ivo::PeerType type, ivo::ServerCertificate& record);
  ozo::result_t ReadRecord(ivo::PeerType type, ivo::ClientCertificate& record);
  // Removes the slot's record, whatever it holds: "Not found" when empty.
  ozo::result_t RemoveRecord(ivo::PeerType type, bool client);

 private:
  ozo::result_t WriteRecordInto(const char* set, ivo::PeerType type, const void* record,
                                const ozo::StructDescriptor* descriptor);
  // The node of the slot (set, type); "Not found" when there is none.
  ozo::result_t SlotNode(const char* set, ivo::PeerType type, ozo::ref_ptr<ozo::IStorage>& setNode,
                         ozo::ref_ptr<ozo::IStorage>& node);
  template <class Record>
  ozo::result_t ReadRecordFrom(const char* set, ivo::PeerType type, const ozo::StructDescriptor* descriptor,
                               Record& record);

  std::shared_ptr<DescriptorRegistry> m_registry;
  ozo::ref_ptr<ServiceLocator> m_locator;
  ozo::IServiceLocator* m_locatorPointer = nullptr;
  ozo::ref_ptr<Tracer> m_tracer;
  ozo::ref_ptr<Allocator> m_allocator;
  ozo::ref_ptr<PolicyProvider> m_policy;
  ozo::ref_ptr<EventPublisher> m_events;
  ozo::ref_ptr<StorageMutex> m_mutex;
  ozo::ref_ptr<Serializer> m_serializer;
  ozo::ref_ptr<PrimaryMetaInfoProvider> m_primaryMeta;
  ozo::ref_ptr<SecondaryMetaInfoProvider> m_secondaryMeta;
  ozo::ref_ptr<ozo::IPersistentStorage> m_store;
  ozo::ref_ptr<ozo::IStorage> m_root;
};

}  // namespace host
