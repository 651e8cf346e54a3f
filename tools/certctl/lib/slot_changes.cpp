#include "tools/certctl/lib/slot_changes.h"

#include <set>

#include "host/storage/journal_records.h"
#include "ivo/certificate_type_table.h"
#include "tools/certctl/lib/inventory.h"
#include "tools/certctl/lib/manager_run.h"

namespace certctl {

using ozo::result_t;
namespace results = ozo::results;

SavedSlot SaveSlot(host::ServiceHost& host, ivo::PeerType type, bool client) {
  SavedSlot saved{type, client, {}};
  if (client) {
    ivo::ClientCertificate record;
    if (ozo::Succeeded(host.ReadRecord(type, record))) saved.record = std::move(record);
  } else {
    ivo::ServerCertificate record;
    if (ozo::Succeeded(host.ReadRecord(type, record))) saved.record = std::move(record);
  }
  return saved;
}

result_t PutBack(host::ServiceHost& host, const SavedSlot& saved) {
  if (const auto* server = std::get_if<ivo::ServerCertificate>(&saved.record))
    return host.WriteRecord(saved.type, *server);
  if (const auto* client = std::get_if<ivo::ClientCertificate>(&saved.record))
    return host.WriteRecord(saved.type, *client);
  const result_t removed = host.RemoveRecord(saved.type, saved.client);
  return removed == results::NotFound ? results::NoError : removed;
}

std::vector<SavedSlot> LockedSlots(Session& session) {
  std::set<std::uint32_t> locked;
  const result_t read = session.store().locks().Locked(locked);
  if (ozo::Failed(read))
    throw Failure(kExitStore, "the store cannot be used: cannot read the locks: " + session.StoreFailure(), read);
  std::vector<SavedSlot> slots;
  for (const ivo::PeerType type : ivo::PeerType::All())
    for (const bool client : {false, true}) {
      const auto& ids = type.ids();
      if (locked.count(client ? ids.clientSetting : ids.serverSetting))
        slots.push_back(SaveSlot(session.host(), type, client));
    }
  return slots;
}

SlotsHeld ReadSlotsHeld(Session& session) {
  SlotsHeld held;
  for (const StoredCertificate& stored : ReadInventory(session)) {
    const SavedSlot saved = SaveSlot(session.host(), stored.type, stored.client);
    std::string bytes;
    if (const auto* server = std::get_if<ivo::ServerCertificate>(&saved.record))
      bytes = std::string(reinterpret_cast<const char*>(server->certificate.data()), server->certificate.size());
    if (const auto* client = std::get_if<ivo::ClientCertificate>(&saved.record))
      bytes = std::string(reinterpret_cast<const char*>(client->certificate.data()), client->certificate.size()) +
              client->password.c_str();
    held[stored.slot()] = {bytes, stored.problem.empty() ? stored.subject : "a record that " + stored.problem};
  }
  return held;
}

std::vector<std::string> JournalChanges(Session& session, const std::string& operation, const SlotsHeld& before,
                                        const SlotsHeld& after) {
  std::set<std::string> slots;
  for (const auto* side : {&before, &after})
    for (const auto& [slot, contents] : *side) slots.insert(slot);
  std::vector<std::string> lines;
  for (const std::string& slot : slots) {
    const auto was = before.find(slot), now = after.find(slot);
    if (was != before.end() && now != after.end() && was->second.bytes == now->second.bytes) continue;
    const std::string detail = now == after.end()    ? "removed " + was->second.subject
                               : was == before.end() ? "added " + now->second.subject
                                                     : "now " + now->second.subject + ", was " + was->second.subject;
    const result_t journalled =
        session.store().journal().Append(host::OperationRecord(operation, slot, detail, UserInitiator()));
    if (ozo::Failed(journalled))
      throw Failure(kExitStore,
                    "the store cannot be used: cannot journal the " + operation + ": " + session.StoreFailure(),
                    journalled);
    lines.push_back(slot + ": " + detail);
  }
  return lines;
}

}  // namespace certctl
