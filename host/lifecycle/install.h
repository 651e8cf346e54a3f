// A signed certificate for a slot's pending key, put in by hand (its request
// was written out and signed offline), as a renewal puts a pair in: by the
// slot's trust, tried against its peer, followed by the settings' hook.
// Every call here opens and commits its own units of work: call it with
// none open on the calling thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/lifecycle/renewal.h"

namespace host::lifecycle {

struct InstallOrder {
  std::optional<ivo::PeerType> type;  // none: refused ("Invalid argument")
  std::string signedFile;             // PEM or DER, the chain after it; empty: the certificate kept pending
  // Over the slot's kept settings, for this install only: the anchors (see
  // SlotAnchors), and the peer to try the pair against (else the one that
  // refused the certificate kept pending, else the settings').
  std::optional<std::string> trusted;
  std::string trustedOrigin = "the certificates given";
  std::optional<TrialTarget> trial;
  bool tryPair = true;         // false: untried, whatever names a peer
  bool runHook = true;         // false: not the settings' hook
  double timeoutSeconds = 30;  // the trial's bound
  ivo::ChangeInitiator initiator;
};

// What an install came to: `status` as PrepareInstallation and
// CompleteInstallation say; when the trial did not prove the new pair,
// "Unspecified error" with `trial` saying why and the words what stays (the
// certificate then stays pending with its key and the peer, committed).
struct InstallOutcome {
  Status status;
  TrialResult trial;      // proven, or why not
  TrialTarget tried;      // the peer the pair was tried against; empty: none
  std::string hookError;  // how the hook failed once the pair was in; empty: it did not
  bool anchored = true;   // false: the anchors cannot verify a CA (AnchorsProblem)
  Installation installation;
};

// Prepares, runs the trial (when a peer is named) with nothing held, and
// installs in a short unit of work that checks the pending key again; an
// installed pair clears the slot's renewal failures and backoff
// (RecordSuccess), and the settings' hook runs after it (a failure of which
// the slot's state keeps, as a renewal's). `with.ca` is not asked.
InstallOutcome Install(const InstallOrder& order, RenewalDependencies& with);

}  // namespace host::lifecycle
