#include "tools/certctl/commands/trial.h"

#include "tools/certctl/cli/values.h"
#include "tools/certctl/lib/peer_slots.h"
#include "tools/certctl/probe/probe_run.h"

namespace certctl {

host::lifecycle::Trial PeerTrial(Session& session, ivo::PeerType type) {
  return [&session, type](const ivo::ClientCertificate& record, const host::lifecycle::TrialTarget& target,
                          const host::Deadline& deadline) -> std::string {
    try {
      host::tls::PeerAddress peer;
      ReadValue(target.peer, "--probe", peer);
      ProbeOptions options;
      options.servername = target.servername;
      options.deadline = deadline;
      PeerSlots slots = ReadSlots(session, type);
      ClientFile fresh;
      if (!slots.anchor || ReadClientFile(record.certificate, record.password, fresh) != ContainerProblem::None)
        return slots.problem.empty() ? "the new container cannot be opened" : slots.problem;
      slots.problem.clear();
      slots.client = std::move(fresh);
      const ProbeVerdict verdict = ProbePeer(slots, peer, options);
      return verdict.works ? "" : verdict.summary;
    } catch (const std::exception& failure) {
      return std::string("it could not be tried: ") + failure.what();
    }
  };
}

}  // namespace certctl
