#include "tools/certctl/probe/probe_run.h"

#include <ctime>

#include "host/revocation/fetch.h"
#include "tools/certctl/lib/certificate_report.h"

namespace certctl {

ProbeVerdict ProbePeer(const PeerSlots& slots, const host::tls::PeerAddress& target, const ProbeOptions& options) {
  if (!slots.problem.empty()) return Unknown(slots.problem, slots.type, target);
  ProbeVerdict verdict;
  verdict.type = slots.type;
  verdict.target = target;
  host::tls::HandshakeInput input;
  input.anchor = slots.anchor.get();
  verdict.anchorSubject = NameText(X509_get_subject_name(slots.anchor.get()));
  if (slots.client) {
    input.clientCertificate = slots.client->certificate.get();
    input.clientKey = slots.client->key.get();
    for (const UniquePtr<X509>& other : slots.client->others) input.clientChain.push_back(other.get());
    verdict.clientStored = true;
    verdict.clientSubject = NameText(X509_get_subject_name(input.clientCertificate));
  }
  input.servername = options.servername;
  input.deadline = &options.deadline;
  verdict.result = host::tls::Handshake(target, input);
  const host::tls::HandshakeResult& result = verdict.result;
  if (Works(result) && result.chainTrusted && !result.verifiedChain.empty()) {
    const std::vector<X509*> chain = ossl::Borrowed(result.verifiedChain);
    const RevocationFacts facts =
        FetchRevocation(chain, result.anchorDepth, result.stapledResponse, options.revocation, options.deadline);
    verdict.revocation = JudgeRevocation(chain, result.anchorDepth, facts, options.revocation);
  }
  JudgePeer(verdict, options, std::time(nullptr));
  return verdict;
}

}  // namespace certctl
