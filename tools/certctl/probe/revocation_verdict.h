// What a probe makes of the revocation checks: states in the plugin
// convention, detail lines and JSON.
#pragma once

#include <string>
#include <vector>

#include "tools/certctl/lib/output.h"
#include "tools/certctl/probe/peer_verdict.h"

namespace certctl {

// Runs the checks `options` ask for on a trusted peer's chain, and adds
// their states to `verdict` through `add`: a revocation is CRITICAL; a check
// that could not be made counts as the policy says; nothing stapled is
// CRITICAL with --require-stapling; an answer due for an update within the
// warning hours is WARNING. A check that was not made says nothing.
void JudgeRevocation(ProbeVerdict& verdict, const ProbeOptions& options,
                     void (*add)(ProbeVerdict&, State, const std::string&));

// "Revocation: CN=leaf (depth 0) good by stapled OCSP, next update ..."
std::vector<std::string> RevocationLines(const RevocationResult& revocation);
Json RevocationJson(const RevocationResult& revocation);

// The chain's worst status (revoked, then unknown, then good), and the
// soonest next update; none when nothing was checked.
std::optional<RevocationStatus> WorstStatus(const RevocationResult& revocation);
std::optional<std::int64_t> SoonestUpdate(const RevocationResult& revocation);

}  // namespace certctl
