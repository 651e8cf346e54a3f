// What an operation on a whole store changed, slot by slot: the records it
// must keep (a slot the policy locks), and the journal's account of the rest.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/storage/saved_slot.h"
#include "tools/certctl/lib/session.h"

namespace certctl {

using host::PutBack;
using host::SavedSlot;
using host::SaveSlot;

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
