// A slot's client certificate renewed, or first enrolled, over a CA: the
// pending key (made when there is none), the CA's answer, the new pair
// tried against its peer, the swap through the component, the hook, and
// the slot's renewal state kept throughout. The library decides and
// records; it neither prints nor exits: the outcome says what happened.
//
// Units of work: every call here opens and commits its own, so call it with
// none open on the calling thread (it refuses, in words, otherwise). It
// commits the pending key before it asks the CA and the CA's certificate
// before the trial, so no lock is held over the network and a crash loses
// neither; the swap, the end of the pending key and the counted success are
// one unit. Threads: one run at a time per store and thread; runs of one
// store from several threads wait for each other's units.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/lifecycle/ca.h"
#include "host/lifecycle/installation.h"
#include "host/lifecycle/settings.h"
#include "host/lifecycle/store.h"
#include "host/secret.h"
#include "host/status.h"

namespace host::lifecycle {

// A renewal of a slot that holds a pair: by its kept settings, with what
// `overrides` sets over them for this run.
struct RenewalOrder {
  std::optional<ivo::PeerType> type;  // none: refused (BadRequest)
  Overrides overrides;
  bool tryPair = true;  // false: the new pair goes in untried, whatever names a peer
  // How long the run's network work may take, the CA's exchange and the
  // trial together: the trial gets what the exchange left.
  double timeoutSeconds = 30;
  ivo::ChangeInitiator initiator;
};

// The first certificate of an empty slot: an initialization request under
// the one-time secret the CA gave. `settings` names the CA (server), its
// trust, the expected sender, the trial's peer and the hook; an enrollment
// that succeeds keeps them as the slot's renewal settings (key updates
// from then on) unless `keepSettings` is false.
struct EnrollmentOrder {
  std::optional<ivo::PeerType> type;
  RenewalConfig settings;
  std::string trustedOrigin = "the certificates given";  // what settings.trusted is, for messages
  bool keepSettings = true;
  std::string reference;
  Secret secret;
  NameFields subject;
  std::vector<std::string> alternativeNames;
  bool tryPair = true;
  double timeoutSeconds = 30;
  ivo::ChangeInitiator initiator;
};

// What a run works with. The trial, the hook and the clock may be replaced
// (tests do); `now` is every decision's clock (due, backoff, the checks of
// what arrives, the pending key's time). The component keeps its own check
// of a pair's validity by the system's clock when it stores the pair: a test
// that moves the clock far must give certificates valid by both.
struct RenewalDependencies {
  RenewalDependencies(LifecycleStore& store, ivo::ICertificatesManager& manager, CertificateAuthority& ca)
      : store(store), manager(manager), ca(ca), trial(TlsTrial(manager)) {}
  LifecycleStore& store;
  ivo::ICertificatesManager& manager;
  CertificateAuthority& ca;
  Trial trial;  // the TLS trial by default; empty: none
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
  Rehearsed,    // a dry run: nothing changed; `status` says whether a renewal could go ahead now
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
  BadRequest,  // no CA is named, or the settings ask for what cannot be asked
  KeyChanged,  // another run replaced the pending key meanwhile
  Component,   // the component refused the new pair (its result says why)
  UnitOpen,    // called with a unit of work open
};

struct RenewalOutcome {
  RenewalStep step = RenewalStep::Refused;
  RenewalRefusal refusal = RenewalRefusal::None;
  // The result and why in words: NoError once renewed; the store's failure
  // with its words; "Access denied" for a locked slot; the component's
  // result when it refused; "Unspecified error" for what the CA, its
  // certificate or the peer did.
  Status status;
  std::string refusedSender;  // see CaAnswer
  bool fromTheCa = false;     // false: a certificate kept pending was installed
  std::string server;         // the CA asked (the settings' or the order's)
  Installation installation;  // the new pair, once prepared
  TrialTarget tried;          // the peer that took the new pair; empty: untried
  TrialResult trial;          // what the trial came to, once one ran
  std::int64_t due = 0;       // when the new certificate is due
  // The settings' beforeDays is not shorter than the new certificate's
  // lifetime, so it is due at two thirds of it (BeforeFits).
  bool beforeTooLong = false;
  // A renewal that brought a certificate ending before the one it replaced.
  bool endsSooner = false;
  // Whether the slot has renewal settings after the run: only then does
  // anything renew it on its own. After a failure, when that will try
  // again (NextAttempt); none when nothing will.
  bool tracked = false;
  std::optional<std::int64_t> nextAttempt;
  RenewalState state;  // as kept after the run
};

// Runs the order. A certificate kept pending by an earlier trial is
// installed without asking the CA again. A new certificate must pass the
// slot's trust (VerifyIssued): the CA is told when it does not, and it is
// never installed. The peer tried is the order's, else the one that refused
// the certificate kept pending, else the settings'.
RenewalOutcome RunRenewal(const RenewalOrder& order, RenewalDependencies& with);

// A dry run of `order`: what a renewal needs, checked without changing
// anything. The slot's pair, its settings and anchors as RunRenewal reads
// them (refused as it refuses, a locked slot included, nothing counted);
// the CA asked a general message under the current pair, its answer's
// protection verified against the anchors and its sender held to a
// renewal's rule; the current pair tried against the peer a renewal would
// try. Step Rehearsed, `status` ok when a renewal could go ahead now, else
// the first reason it could not. No key, state or journal entry is written.
RenewalOutcome RehearseRenewal(const RenewalOrder& order, RenewalDependencies& with);
RenewalOutcome RunEnrollment(const EnrollmentOrder& order, RenewalDependencies& with);

// One slot's part in RenewAll: not due (`ran` false, its next attempt), or
// what its run came to.
struct SlotRun {
  explicit SlotRun(ivo::PeerType type) : type(type) {}
  ivo::PeerType type;
  bool ran = false;
  std::optional<std::int64_t> due, nextAttempt;  // as they stood before the run
  RenewalState state;                            // as it stood before the run
  RenewalOutcome outcome;
};

// Renews each slot that has renewal settings and a pair, by its settings
// alone: every one, or with `onlyDue` those due at the clock's now (its
// due time passed, and any backoff), as the timer's runs renew them: one
// entry per such slot in `runs`, in type order. The store's failure to read
// the slots with its words; each run's own in its outcome.
Status RenewAll(RenewalDependencies& with, bool onlyDue, double timeoutSeconds, const ivo::ChangeInitiator& initiator,
                std::vector<SlotRun>& runs);

}  // namespace host::lifecycle
