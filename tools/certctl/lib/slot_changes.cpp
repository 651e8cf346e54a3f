#include "tools/certctl/lib/slot_changes.h"

#include <set>

#include "host/storage/journal_records.h"
#include "tools/certctl/lib/inventory.h"
#include "tools/certctl/lib/manager_run.h"

namespace certctl {

using ozo::result_t;

std::vector<SavedSlot> LockedSlots(Session& session) {
  std::vector<SavedSlot> slots;
  if (const result_t read = host::SaveLockedSlots(session.host(), session.store(), slots); ozo::Failed(read))
    throw Failure(kExitStore, "the store cannot be used: cannot read the locks: " + session.StoreFailure(), read);
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
        session.store().journal().Append(host::OperationRecord(operation, slot, detail, host::ProcessUser()));
    if (ozo::Failed(journalled))
      throw Failure(kExitStore,
                    "the store cannot be used: cannot journal the " + operation + ": " + session.StoreFailure(),
                    journalled);
    lines.push_back(slot + ": " + detail);
  }
  return lines;
}

}  // namespace certctl
