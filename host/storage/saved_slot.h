// A slot's record saved before an operation on a whole store, to be written
// back: what keeps a slot the policy locks as it was through an upgrade or
// a restore.
#pragma once

#include <variant>
#include <vector>

#include "host/service_host.h"
#include "host/storage/sqlite_store.h"
#include "ivo/certificate_type_table.h"

namespace host {

struct SavedSlot {
  ivo::PeerType type;
  bool client = false;
  std::variant<std::monostate, ivo::ServerCertificate, ivo::ClientCertificate> record;  // none: the slot was empty
};

// The slot's record as `services` reads it (none when it cannot be read).
SavedSlot SaveSlot(ServiceHost& services, ivo::PeerType type, bool client);
// Writes the saved record back (removes the slot's when it held none); the
// first failure.
ozo::result_t PutBack(ServiceHost& services, const SavedSlot& saved);
// The slots `store`'s policy locks against local changes, each saved into
// `saved`; the result of reading the locks.
ozo::result_t SaveLockedSlots(ServiceHost& services, SqliteStore& store, std::vector<SavedSlot>& saved);

// Journals through `services` the removal of a record no event describes
// (one the component could not decode): the type's "removed" event, without
// certificate fields, by `initiator`, now.
void JournalRemoval(ServiceHost& services, ivo::PeerType type, bool client, const ivo::ChangeInitiator& initiator);

}  // namespace host
