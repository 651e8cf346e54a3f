// A signed certificate for a slot's pending key, checked and installed with
// the key through the component, in the unit of work that drops the key.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "host/lifecycle/hook.h"
#include "host/lifecycle/store.h"
#include "host/lifecycle/trial.h"
#include "host/net/deadline.h"
#include "ivo/certificates_manager.h"

namespace host::lifecycle {

struct TrustAnchors;  // host/lifecycle/trust.h

// A signed certificate checked against the pending key and wrapped with it
// into a container (see MakeContainer) under a fresh random password (32
// bytes from the system's generator, as hex), ready to store. The record
// wipes the password.
struct Installation {
  ivo::ClientCertificate record;
  std::string subject;  // for messages
  std::string serial;   // upper-case hex, as openssl x509 -serial prints it
  std::int64_t notBefore = 0;
  std::int64_t notAfter = 0;
  std::string certificates;  // the signed certificate and its verified chain, PEM: kept pending when the swap waits
  std::string keyPrint;      // which pending key it was made with
};

// Checks `signedFile` (PEM or DER, the certificate first, then what may
// build its chain) against the slot's pending key: refused ("Not found")
// without a pending key or, with an empty `signedFile`, without a
// certificate kept pending; refused when the certificate carries another
// key ("Not matched", the sentence names both), is outside its validity
// period at `now` (the component's code for that), or is no client
// certificate by its key usages or cannot be read ("Invalid argument");
// refused ("Prohibited") when it is a CA certificate or does not chain to
// `anchors` at `now`, and ("Invalid state") when there are no anchors (see
// VerifyIssued). The container holds the certificate and its verified
// chain, nothing else the file held.
ozo::result_t PrepareInstallation(LifecycleStore& store, ivo::PeerType type, const std::string& signedFile,
                                  const TrustAnchors& anchors, std::int64_t now, Installation& installation,
                                  std::string& error);

// Stores the prepared pair through `manager` (so the policy is asked and the
// Removed and Added events are published), clears the pending key and
// journals an operation "install", all in the store's current unit of work:
// a host that commits it keeps the new pair and no pending key, one that
// rolls back keeps the old pair and the pending key. Returns "Invalid
// state" when the slot's pending key is no longer the one the installation
// was prepared with; the manager's result when it refused the pair (then
// `refused` is set), else the store's failure.
ozo::result_t CompleteInstallation(LifecycleStore& store, ivo::ICertificatesManager& manager, ivo::PeerType type,
                                   const Installation& installation, const ivo::ChangeInitiator& initiator,
                                   bool* refused = nullptr);

// The hook's run after `type`'s new pair `installation` went in: the
// command, the pair's facts (CERTCTL_TYPE, CERTCTL_SUBJECT, CERTCTL_SERIAL,
// CERTCTL_NOT_AFTER), what the caller adds (`extra`: the store's path as
// CERTCTL_STORE, say), the chain, and its time.
HookRun HookRunFor(const std::string& command, ivo::PeerType type, const Installation& installation,
                   const HookVariables& extra, double timeoutSeconds);

// How a hook is run (RunHook, unless a test gives its own).
using HookRunner = std::function<ozo::result_t(const HookRun& run, std::string& failure)>;

}  // namespace host::lifecycle
