// One renewal of a type's client certificate over CMP, or its first
// enrollment: the pending key (made when there is none), the exchange with
// the CA, the new pair tried against the peer, the swap through the
// component, and the slot's renewal state kept throughout.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/cmp_exchange.h"
#include "host/storage/sqlite_store.h"
#include "ivo/certificates_manager.h"
#include "tools/certctl/lib/session.h"
#include "tools/certctl/probe/probe_target.h"

namespace certctl {

struct RenewalOrder {
  ivo::CertificateType type = 0;
  host::SqliteStore::RenewalConfig config;  // the CA, its trust, the peer, the hook
  std::string trustedOrigin;                // what config.trusted came from, for messages
  std::optional<ProbeTarget> probe;         // read from config.probe
  std::string servername;                   // for the trial against the peer
  // The exchange, polling included, ends this long after it starts; the
  // trial against the peer has as long again of its own.
  double timeoutSeconds = 30;
  // A first enrollment (an initialization request): the reference and the
  // one-time secret the CA gave, and the subject asked for.
  bool enroll = false;
  std::string reference;
  const ozo::string8_t* secret = nullptr;
  std::vector<std::pair<std::string, std::string>> subject;
  std::vector<std::string> alternativeNames;
};

// Runs the order. The pending key is committed before the CA is asked and
// the certificate it sends before the peer is tried, so no lock is held
// over the network and a crash loses neither; the swap, the end of the
// pending key and the state's success are one transaction, so a crash
// never leaves a renewal counted that did not happen. A certificate kept
// pending by an earlier trial is installed without asking the CA again.
// The new certificate must chain to the slot's trust anchors (see
// IssuedCertificateAnchors): the CA is told when it does not, and it is
// never installed. Prints what it did once it is durable; returns the exit
// status. A failure is counted in the state (the next attempt backed off)
// and thrown as Failure (kExitFailed) with the CA's or the peer's words; a
// slot the policy locks, or one with no trust anchors, is refused before
// anything changes.
int RunRenewal(const GlobalOptions& global, const RenewalOrder& order);

}  // namespace certctl
