// What of a store brought in from elsewhere (a backup restored) may act on
// its own later: a renewal's settings name a CA to trust and a command the
// renewal timer runs, and a signed certificate kept pending would be
// installed by the next renewal. A backup is data, never commands.
#pragma once

#include <string>
#include <vector>

#include "host/lifecycle/store.h"

namespace host::lifecycle {

// What was settled for one slot.
struct Settled {
  enum class Kind { SettingsDropped, SettingsImported, PendingCertificateDropped };
  ivo::PeerType type;
  Kind kind = Kind::SettingsDropped;
  std::string server;  // of the settings
  std::string hook;    // of settings imported: the command the timer will run
};

// Settles the lifecycle tables just brought in, in the store's unit of
// work: without `withSettings` every renewal setting goes (the slots are
// unconfigured); every signed certificate kept pending goes (its pending
// key stays, so a new request can be signed). Each is journalled as an
// operation "restore" by `initiator`, and listed in `settled`. The store's
// failure as it is.
ozo::result_t SettleImported(LifecycleStore& store, bool withSettings, const ivo::ChangeInitiator& initiator,
                             std::vector<Settled>& settled);

}  // namespace host::lifecycle
