// probe and metrics --probe: a type's stored pair tried against its peer,
// and the verdict in the monitoring-plugin convention.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ivo/certificates_manager.h"
#include "tools/certctl/lib/certificate_file.h"
#include "tools/certctl/lib/monitoring.h"
#include "tools/certctl/lib/output.h"
#include "tools/certctl/lib/session.h"
#include "tools/certctl/probe/revocation.h"
#include "tools/certctl/probe/tls_handshake.h"

namespace certctl {

// What a type's slots give a probe: the stored server certificate (the trust
// anchor) and client certificate with its key.
// The container's password is used to open it and wiped; only the opened
// certificate and key stay, in this process.
struct PeerSlots {
  ivo::CertificateType type = 0;
  UniquePtr<X509> anchor;
  std::optional<ClientFile> client;  // when one is stored
  std::string problem;               // why no probe can run: "no edr server certificate is stored"
};
// The slots of `type` as `session` reads them (a read or a write session).
// Throws Failure when the store fails.
PeerSlots ReadSlots(Session& session, ivo::CertificateType type);
// The slots of `types`, read in one read-only session that ends before any
// probe starts (a probe holds no lock on the store). Throws Failure when the
// store or the component cannot be used.
std::map<ivo::CertificateType, PeerSlots> ReadPeerSlots(const RunOptions& options,
                                                        const std::set<ivo::CertificateType>& types);

struct ProbeOptions {
  std::string servername;  // empty: the target's host when it is a name
  // The handshake and every revocation fetch end by it: a run's options
  // are made when the run starts.
  host::Deadline deadline{kDefaultTimeoutSeconds};
  Thresholds thresholds;
  RevocationOptions revocation;
};

// Why `record`, a new pair for the slots' type, does not work against
// `target` with the slots' server certificate as the anchor (the handshake
// of a probe), or empty when it does.
std::string TrialOfNewPair(PeerSlots slots, const ivo::ClientCertificate& record, const ProbeTarget& target,
                           const ProbeOptions& options);

struct ProbeVerdict {
  ivo::CertificateType type = 0;
  ProbeTarget target;
  State state = State::Unknown;
  std::string summary;
  // The stored pair works: the handshake completed, the peer is trusted and
  // refused no client certificate (its end may still be near).
  bool works = false;
  ProbeResult result;
  std::optional<std::int64_t> peerDaysLeft;
  std::string anchorSubject;    // the stored server certificate's subject
  std::string clientSubject;    // the stored client certificate's, or empty
  RevocationResult revocation;  // checked once the peer is trusted
};

// Probes `target` with the slots and judges what it saw. Never throws for
// what the network or the peer does.
ProbeVerdict ProbePeer(const PeerSlots& slots, const ProbeTarget& target, const ProbeOptions& options);
// The verdict of a probe that could not run (bad usage, the store): UNKNOWN,
// for `type` and `target` when they are known.
ProbeVerdict Unknown(const std::string& why, ivo::CertificateType type = 0, const ProbeTarget& target = {});

// The status line with performance data, then the details: protocol,
// chain, trust and client certificate.
void PrintVerdict(const ProbeVerdict& verdict, const Thresholds& thresholds);
// The same facts as JSON: no password, no key.
Json VerdictJson(const ProbeVerdict& verdict);

}  // namespace certctl
