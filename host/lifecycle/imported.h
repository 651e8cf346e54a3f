// What of a store brought in from elsewhere (a backup restored) may act on
// its own later: a renewal's settings name a CA to trust and a command the
// renewal timer runs, and a signed certificate kept pending would be
// installed by the next renewal. A backup is data, never commands: rows no
// command would write are dropped, and the store keeps the settings it
// trusted unless asked to take the backup's.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/lifecycle/store.h"

namespace host::lifecycle {

// What was settled for one slot.
struct Settled {
  enum class Kind {
    SettingsDropped,            // the backup's settings, not imported
    SettingsKept,               // the store's own settings, kept
    SettingsImported,           // the backup's settings, imported as asked
    SettingsRefused,            // the backup's settings cannot work (problem): not imported
    StateRefused,               // the backup's renewal state cannot be (problem): not imported
    PendingKeyRefused,          // the backup's pending key cannot be used (problem): not imported
    PendingCertificateDropped,  // a signed certificate kept pending: dropped, its key kept
  };
  ivo::PeerType type;
  Kind kind;
  std::string server;   // of the settings
  std::string hook;     // of settings imported: the command the timer will run
  std::string problem;  // why a row was refused (SettingsProblem, StateProblem, PendingKeyProblem)
};

// Settles the lifecycle tables just brought in, in the store's unit of
// work. Without `withSettings` the backup's renewal settings go, and the
// store's own from before the restore (`kept`) come back; with it, the
// backup's are imported, but any that cannot work is dropped. A renewal
// state or pending key no command would write is dropped; every signed
// certificate kept pending goes (its pending key stays, so a new request
// can be signed). Each is journalled as an operation "restore" by
// `initiator`, and listed in `settled`, slot by slot. The store's failure as
// it is.
ozo::result_t SettleImported(LifecycleStore& store, bool withSettings,
                             const std::map<ivo::PeerType, RenewalConfig>& kept, const ivo::ChangeInitiator& initiator,
                             std::vector<Settled>& settled);

}  // namespace host::lifecycle
