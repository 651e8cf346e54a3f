// What an operation on a whole store changed, slot by slot: the records it
// must keep (a slot the policy locks), and the journal's account of the rest.
#pragma once

#include <map>
#include <string>
#include <variant>
#include <vector>

#include "host/service_host.h"
#include "tools/certctl/lib/session.h"

namespace certctl {

// A slot's record as it was before an operation, to put back.
struct SavedSlot {
  ivo::PeerType type;
  bool client;
  std::variant<std::monostate, ivo::ServerCertificate, ivo::ClientCertificate> record;
};
SavedSlot SaveSlot(host::ServiceHost& host, ivo::PeerType type, bool client);
// Writes the saved record back (removes the slot's when it held none); the
// first failure.
ozo::result_t PutBack(host::ServiceHost& host, const SavedSlot& saved);

// The slots the store's policy locks against local changes.
std::vector<SavedSlot> LockedSlots(Session& session);

// What each slot holds ("edr server" -> its bytes and subject), to compare.
struct SlotContents {
  std::string bytes;
  std::string subject;  // or why the component cannot use the record
};
using SlotsHeld = std::map<std::string, SlotContents>;
SlotsHeld ReadSlotsHeld(Session& session);

// Journals each slot that differs between `before` and `after` as an
// operation record of `operation` by the user, in the session's unit of
// work; returns one line per change ("edr server: now CN=a, was CN=b").
// Throws Failure (kExitStore) when the journal cannot be written.
std::vector<std::string> JournalChanges(Session& session, const std::string& operation, const SlotsHeld& before,
                                        const SlotsHeld& after);

}  // namespace certctl
