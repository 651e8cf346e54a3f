// A probe's verdict told: the plugin's status line and details, JSON, and
// the metrics samples; for probe and metrics --probe alike.
#pragma once

#include <string>
#include <vector>

#include "tools/certctl/cli/values.h"
#include "tools/certctl/lib/exposition.h"
#include "tools/certctl/lib/monitoring.h"
#include "tools/certctl/lib/output.h"

namespace certctl {

// The status line with performance data, then the details: protocol,
// chain, trust, client certificate and revocation.
void PrintVerdict(const ProbeVerdict& verdict, const Thresholds& thresholds);
// The same facts as JSON: no password, no key.
Json VerdictJson(const ProbeVerdict& verdict);

// "Revocation 0: CN=leaf good by stapled OCSP, next update ..."
std::vector<std::string> RevocationLines(const RevocationResult& revocation);
Json RevocationJson(const RevocationResult& revocation);

// The probes' families, in the style of blackbox_exporter's probe_*.
void RenderProbes(Exposition& out, const std::vector<ProbeVerdict>& verdicts, RevocationPolicy policy);

}  // namespace certctl
