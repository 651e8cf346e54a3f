// One renewal of a slot's client certificate, or its first enrollment: the
// pending key (made when there is none), the CA's answer, the new pair
// tried against the peer, the swap through the component, and the slot's
// renewal state kept throughout. The library decides and records; it
// neither prints nor exits: the outcome says what happened.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/lifecycle/ca.h"
#include "host/lifecycle/hook.h"
#include "host/lifecycle/installation.h"
#include "host/lifecycle/request.h"
#include "host/lifecycle/store.h"
#include "host/lifecycle/trial.h"

namespace host::lifecycle {

struct RenewalOrder {
  std::optional<ivo::PeerType> type;  // none: the order is refused (BadRequest)
  // The CA's address and request, its trust, the expected sender, the
  // peer the trial names, the due rule and the hook.
  // The trial is config's probe, else the peer that refused the certificate
  // kept pending (see ChooseTrial); none with noTrial.
  RenewalConfig config;
  bool noTrial = false;
  std::string trustedOrigin;  // what config.trusted is, for messages
  // How long the run's network work may take, the CA's exchange and the
  // trial together: the trial gets what the exchange left.
  double timeoutSeconds = 30;
  // A first enrollment (an initialization request): the reference and the
  // one-time secret the CA gave, and the subject asked for.
  bool enroll = false;
  // An enrollment that succeeds keeps the CA, its trust, the expected
  // sender and the peer as the slot's renewal settings (key updates from
  // then on), in the unit of work that installs its pair.
  bool keepSettings = true;
  std::string reference;
  const ozo::string8_t* secret = nullptr;
  NameFields subject;
  std::vector<std::string> alternativeNames;
  ivo::ChangeInitiator initiator;
};

// What a run works with. The hook and the clock may be replaced (tests do).
struct RenewalDependencies {
  RenewalDependencies(LifecycleStore& store, ivo::ICertificatesManager& manager, CertificateAuthority& ca)
      : store(store), manager(manager), ca(ca) {}
  LifecycleStore& store;
  ivo::ICertificatesManager& manager;
  CertificateAuthority& ca;
  Trial trial;  // empty: no trial, whatever the order names
  HookRunner hook = RunHook;
  HookVariables hookVariables;  // what the caller adds to the hook's (CERTCTL_STORE, say)
  double hookTimeoutSeconds = kDefaultHookSeconds;
  std::function<std::int64_t()> now;  // empty: the system's clock
};

// How far a run went.
enum class RenewalStep {
  Refused,      // before anything changed: nothing counted
  StoreFailed,  // the store failed: what was committed before stays, nothing else
  Failed,       // counted in the state, the next attempt backed off
  Renewed,      // the new pair is in, the state counts the success
  HookFailed,   // renewed, and the hook failed (kept in the state)
};

// Why a run was refused before anything was counted (but Locked, which the
// state counts as the failure it is).
enum class RenewalRefusal {
  None,
  Locked,      // the policy locks the slot against local change (counted: step Failed)
  SlotHolds,   // an enrollment of a slot that holds a certificate
  SlotEmpty,   // a renewal of an empty slot
  Unreadable,  // the stored pair cannot be opened with its password
  NoAnchors,   // nothing says which CA may issue the new certificate
  BadRequest,  // the settings or the subject ask for what cannot be asked
  KeyChanged,  // another run replaced the pending key meanwhile
  Component,   // the component refused the new pair (its result says why)
};

struct RenewalOutcome {
  RenewalStep step = RenewalStep::Refused;
  RenewalRefusal refusal = RenewalRefusal::None;
  // NoError once renewed; the store's failure as it is (the caller tells
  // it by the store's first failure); "Access denied" for a locked slot;
  // the component's result when it refused; "Unspecified error" for what
  // the CA, its certificate or the peer did.
  ozo::result_t result = ozo::results::NoError;
  std::string error;          // why, in words
  std::string refusedSender;  // see CaAnswer
  bool fromTheCa = false;     // false: a certificate kept pending was installed
  Installation installation;  // the new pair, once prepared
  TrialTarget tried;          // the peer that took the new pair; empty: untried
  TrialResult trial;          // what the trial came to, once one ran
  std::int64_t due = 0;       // when the new certificate is due
  // The settings' beforeDays is not shorter than the new certificate's
  // lifetime, so it is due at two thirds of it (BeforeFits).
  bool beforeTooLong = false;
  // Whether the slot has renewal settings after the run: only then does
  // anything renew it on its own. After a failure, when that will try
  // again (NextAttempt); none when nothing will.
  bool tracked = false;
  std::optional<std::int64_t> nextAttempt;
  RenewalState state;  // as kept after the run
};

// Runs the order. The pending key is committed before the CA is asked and
// the certificate it sends before the peer is tried, so no lock is held
// over the network and a crash loses neither; the swap, the end of the
// pending key and the state's success are one unit of work, so a crash
// never leaves a renewal counted that did not happen. A certificate kept
// pending by an earlier trial is installed without asking the CA again. A
// new certificate must chain to the slot's trust anchors (IssuedAnchors):
// the CA is told when it does not, and it is never installed. The store's
// unit of work must be open when it is called; every change is committed
// when it returns, and no unit is open.
RenewalOutcome RunRenewal(const RenewalOrder& order, RenewalDependencies& with);

}  // namespace host::lifecycle
