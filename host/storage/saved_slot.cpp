#include "host/storage/saved_slot.h"

#include <cstdint>
#include <ctime>
#include <set>

namespace host {

SavedSlot SaveSlot(ServiceHost& services, ivo::PeerType type, bool client) {
  SavedSlot saved{type, client, {}};
  if (client) {
    ivo::ClientCertificate record;
    if (ozo::Succeeded(services.ReadRecord(type, record))) saved.record = std::move(record);
  } else {
    ivo::ServerCertificate record;
    if (ozo::Succeeded(services.ReadRecord(type, record))) saved.record = std::move(record);
  }
  return saved;
}

ozo::result_t PutBack(ServiceHost& services, const SavedSlot& saved) {
  if (const auto* server = std::get_if<ivo::ServerCertificate>(&saved.record))
    return services.WriteRecord(saved.type, *server);
  if (const auto* client = std::get_if<ivo::ClientCertificate>(&saved.record))
    return services.WriteRecord(saved.type, *client);
  const ozo::result_t removed = services.RemoveRecord(saved.type, saved.client);
  return removed == ozo::results::NotFound ? ozo::results::NoError : removed;
}

ozo::result_t SaveLockedSlots(ServiceHost& services, SqliteStore& store, std::vector<SavedSlot>& saved) {
  std::set<std::uint32_t> locked;
  const ozo::result_t read = store.locks().Locked(locked);
  if (ozo::Failed(read)) return read;
  for (const ivo::PeerType type : ivo::PeerType::All())
    for (const bool client : {false, true})
      if (locked.count(client ? type.ids().clientSetting : type.ids().serverSetting))
        saved.push_back(SaveSlot(services, type, client));
  return read;
}

void JournalRemoval(ServiceHost& services, ivo::PeerType type, bool client, const ivo::ChangeInitiator& initiator) {
  ivo::CertificateEvent event;
  event.eventType = client ? type.ids().clientRemoved : type.ids().serverRemoved;
  event.initiator = initiator;
  event.time = static_cast<std::int64_t>(std::time(nullptr));
  services.events().Publish(&event);
}

}  // namespace host
