// probe: whether a type's stored pair works against its peer, as a
// monitoring plugin reports it. Like check, its exit status is the plugin
// state (0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN) and its first line the
// status line. It reads the store and changes nothing, journals nothing.
#include <iostream>

#include "tools/certctl/command_support.h"
#include "tools/certctl/errors.h"
#include "tools/certctl/input.h"
#include "tools/certctl/peer_probe.h"

namespace certctl {

int Probe(const Invocation& invocation) {
  ProbeOptions options;
  ProbeVerdict verdict;
  try {
    options.thresholds = ParseThresholds(invocation);
    options.timeoutSeconds = ParseTimeout(invocation.Value("--timeout"));
    options.servername = invocation.Value("--servername");
    const ivo::CertificateType type = ParseType(invocation.Argument(0));
    const ProbeTarget target = ParseTarget(invocation.Argument(1));
    const PeerSlots slots = std::move(ReadPeerSlots(invocation.options, {type}).at(type));
    verdict = ProbePeer(slots, target, options);
  } catch (const Failure& failure) {
    // Whatever keeps the probe from running (a bad operand, a store or
    // library that cannot be used) is UNKNOWN, as monitoring expects.
    verdict = Unknown(failure.what());
  }
  if (invocation.options.json)
    PrintJson(VerdictJson(verdict));
  else
    PrintVerdict(verdict, options.thresholds);
  return static_cast<int>(verdict.state);
}

}  // namespace certctl
