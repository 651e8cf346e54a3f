#include "tools/certctl/commands/trial.h"

#include "tools/certctl/probe/probe_run.h"

namespace certctl {

std::string TrialOfNewPair(PeerSlots slots, const ivo::ClientCertificate& record, const ProbeTarget& target,
                           const ProbeOptions& options) {
  ClientFile fresh;
  if (!slots.anchor || ReadClientFile(record.certificate, record.password, fresh) != ContainerProblem::None)
    return slots.problem.empty() ? "the new container cannot be opened" : slots.problem;
  slots.problem.clear();
  slots.client = std::move(fresh);
  const ProbeVerdict verdict = ProbePeer(slots, target, options);
  return verdict.works ? "" : verdict.summary;
}

}  // namespace certctl
