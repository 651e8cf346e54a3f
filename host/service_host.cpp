#include "host/service_host.h"

#include <iterator>
#include <stdexcept>

#include "host/storage/record_descriptors.h"
#include "host/storage/sqlite_store.h"
#include "ivo/certificate_type_table.h"
#include "ivo/certificates_manager.h"

namespace host {

ServiceHost::ServiceHost(HostOptions options) : m_registry(DescriptorRegistry::WithCertificateRecords()) {
  m_locator = Make<ServiceLocator>();
  m_locatorPointer = m_locator.get();
  m_tracer = Make<Tracer>(options.traceThreshold);
  m_allocator = Make<Allocator>();
  m_policy = Make<PolicyProvider>();
  m_events = Make<EventPublisher>();
  m_mutex = Make<StorageMutex>();
  m_serializer = Make<Serializer>(m_registry, ozo::ref_ptr<ozo::IAllocator>(m_allocator.get()));
  m_primaryMeta = Make<PrimaryMetaInfoProvider>(m_registry);
  m_secondaryMeta = Make<SecondaryMetaInfoProvider>(m_registry);
  m_store = options.store ? options.store : ozo::ref_ptr<ozo::IPersistentStorage>(Make<MemoryPersistentStorage>());
  if (ozo::Failed(m_store->CreateStorage(ivo::ClsIdCertificatesManager, m_root.Ref())))
    throw std::runtime_error("the store cannot make the certificates manager's tree");
  if (const ozo::ref_ptr<SqliteStore> sqlite(dynamic_cast<SqliteStore*>(m_store.get())); sqlite) {
    if (options.policyLocksInStore)
      m_policy->KeepLocksIn(
          {[sqlite](std::uint32_t id, bool& locked) { return sqlite->locks().IsLocked(id, locked); },
           [sqlite](std::uint32_t id, bool locked) { return sqlite->locks().SetLocked(id, locked); }});
    if (options.journalEventsInStore)
      m_events->SetSink([sqlite](const ivo::CertificateEvent& event) { sqlite->journal().Append(event); });
  }
  const std::pair<ozo::iid_t, ozo::IObject*> services[] = {
      {ozo::ITracer::IID, m_tracer.get()},
      {ozo::IAllocator::IID, m_allocator.get()},
      {ivo::IPolicyProvider::IID, m_policy.get()},
      {ivo::IEventPublisher::IID, m_events.get()},
      {ozo::kStorageRootServiceId, m_root.get()},
      {ivo::IStorageMutex::IID, m_mutex.get()},
      {ozo::IStorageSerializer2::IID, m_serializer.get()},
      {ozo::IMetaInfoProvider::IID, m_primaryMeta.get()},
      {ozo::IMetaInfoProvider2::IID, m_secondaryMeta.get()},
  };
  for (const auto& [iid, service] : services) m_locator->Register(iid, ozo::ref_ptr<ozo::IObject>(service));
}

ServiceHost::~ServiceHost() { m_locator->Clear(); }

ozo::result_t ServiceHost::WriteRecord(ivo::PeerType type, const ivo::ServerCertificate& record) {
  return WriteRecordInto(ivo::kServerCertificatesSet, type, &record, ServerCertificateDescriptor());
}

ozo::result_t ServiceHost::WriteRecord(ivo::PeerType type, const ivo::ClientCertificate& record) {
  return WriteRecordInto(ivo::kClientCertificatesSet, type, &record, ClientCertificateDescriptor());
}

ozo::result_t ServiceHost::WriteRecordInto(const char* set, ivo::PeerType type, const void* record,
                                           const ozo::StructDescriptor* descriptor) {
  const char* key = type.ids().storageKey;
  ozo::ref_ptr<ozo::IStorage> setNode, node;
  ozo::result_t result = m_root->AppendNode(set, setNode.Ref());
  if (ozo::Failed(result)) return result;
  result = setNode->RemoveNode(key);
  if (ozo::Failed(result) && result != ozo::results::PathNotFound) return result;
  result = setNode->AppendNode(key, node.Ref());
  if (ozo::Failed(result)) return result;
  ozo::any_descr_ptr_t value{const_cast<void*>(record), descriptor, nullptr};  // Serialize only reads it
  result = m_serializer->Serialize(&value, node.get(), 0, nullptr);
  return ozo::Failed(result) ? result : ozo::results::NoError;
}

ozo::result_t ServiceHost::SlotNode(const char* set, ivo::PeerType type, ozo::ref_ptr<ozo::IStorage>& setNode,
                                    ozo::ref_ptr<ozo::IStorage>& node) {
  ozo::result_t result = m_root->GetNode(set, setNode.Ref());
  if (ozo::Succeeded(result)) result = setNode->GetNode(type.ids().storageKey, node.Ref());
  return result == ozo::results::PathNotFound ? ozo::results::NotFound : result;
}

template <class Record>
ozo::result_t ServiceHost::ReadRecordFrom(const char* set, ivo::PeerType type, const ozo::StructDescriptor* descriptor,
                                          Record& record) {
  ozo::ref_ptr<ozo::IStorage> setNode, node;
  ozo::result_t result = SlotNode(set, type, setNode, node);
  if (ozo::Failed(result)) return result;
  ozo::any_struct_t value;
  result = m_serializer->Deserialize(value.Ref(), node.get(), 0, nullptr);
  if (ozo::Failed(result)) return result;
  if (!value.IsValid() || !value.descriptor() || value.descriptor()->typeId != descriptor->typeId)
    return ozo::results::InvalidType;
  record = *static_cast<const Record*>(value.object());
  return ozo::results::NoError;
}

ozo::result_t ServiceHost::ReadRecord(ivo::PeerType type, ivo::ServerCertificate& record) {
  return ReadRecordFrom(ivo::kServerCertificatesSet, type, ServerCertificateDescriptor(), record);
}

ozo::result_t ServiceHost::ReadRecord(ivo::PeerType type, ivo::ClientCertificate& record) {
  return ReadRecordFrom(ivo::kClientCertificatesSet, type, ClientCertificateDescriptor(), record);
}

ozo::result_t ServiceHost::RemoveRecord(ivo::PeerType type, bool client) {
  ozo::ref_ptr<ozo::IStorage> setNode, node;
  ozo::result_t result =
      SlotNode(client ? ivo::kClientCertificatesSet : ivo::kServerCertificatesSet, type, setNode, node);
  if (ozo::Succeeded(result)) result = setNode->RemoveNode(type.ids().storageKey);
  return result == ozo::results::PathNotFound ? ozo::results::NotFound : result;
}

}  // namespace host
