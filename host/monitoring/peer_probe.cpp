#include "host/monitoring/peer_probe.h"

#include <ctime>
#include <string_view>

#include "host/revocation/fetch.h"
#include "ossl/text.h"

namespace host::monitoring {
Status ReadPeerSlots(ServiceHost& services, SqliteStore& store, ivo::PeerType type, PeerSlots& slots) {
  slots = PeerSlots(type);
  const std::string name = type.keyword();
  ivo::ServerCertificate server;
  const ozo::result_t readServer = services.ReadRecord(type, server);
  if (Status failed = store.FirstFailureStatus(); !failed.ok()) return failed;
  if (readServer == ozo::results::NotFound) {
    slots.problem = "no " + name + " server certificate is stored: nothing to trust the peer with";
    return {};
  }
  if (ozo::Failed(readServer)) {
    slots.problem = "the stored " + name + " server record cannot be read: " + ResultText(readServer);
    return {};
  }
  std::vector<ossl::UniquePtr<X509>> certificates = ossl::ReadCertificates(ossl::View(server.certificate));
  if (certificates.empty()) {
    slots.problem = "the stored " + name + " server certificate " +
                    (server.certificate.size() == 0 ? "is empty" : "is not a certificate (neither DER nor PEM)");
    return {};
  }
  slots.anchor = std::move(certificates.front());

  ivo::ClientCertificate client;  // wipes the password when the scope ends
  const ozo::result_t readClient = services.ReadRecord(type, client);
  if (Status failed = store.FirstFailureStatus(); !failed.ok()) return failed;
  if (readClient == ozo::results::NotFound) return {};
  ossl::Container opened;
  const ossl::ContainerProblem problem =
      ozo::Failed(readClient) ? ossl::ContainerProblem::Damaged
                              : ossl::OpenContainer(ossl::View(client.certificate), client.password.c_str(), opened);
  if (problem != ossl::ContainerProblem::None)
    slots.problem = "the stored " + name +
                    " client certificate cannot be used: " + ossl::Describe(problem, ossl::ProblemHolder::Record);
  else
    slots.client = std::move(opened);
  return {};
}

ProbeVerdict ProbePeer(const PeerSlots& slots, const tls::PeerAddress& target, const ProbeOptions& options) {
  if (!slots.problem.empty()) return Unknown(slots.problem, slots.type, target);
  ProbeVerdict verdict;
  verdict.type = slots.type;
  verdict.target = target;
  tls::HandshakeInput input;
  input.anchor = slots.anchor.get();
  verdict.anchorSubject = ossl::NameText(X509_get_subject_name(slots.anchor.get()));
  if (slots.client) {
    input.clientCertificate = slots.client->certificate.get();
    input.clientKey = slots.client->key.get();
    input.clientChain = ossl::Borrowed(slots.client->others);
    verdict.clientStored = true;
    verdict.clientSubject = ossl::NameText(X509_get_subject_name(input.clientCertificate));
  }
  input.servername = options.servername;
  input.deadline = &options.deadline;
  verdict.result = tls::Handshake(target, input);
  const tls::HandshakeResult& result = verdict.result;
  if (Works(result) && result.chainTrusted && !result.verifiedChain.empty()) {
    const std::vector<X509*> chain = ossl::Borrowed(result.verifiedChain);
    const revocation::RevocationFacts facts = revocation::FetchRevocation(
        chain, result.anchorDepth, result.stapledResponse, options.revocation, options.deadline);
    verdict.revocation = revocation::JudgeRevocation(chain, result.anchorDepth, facts, options.revocation);
  }
  JudgePeer(verdict, options, std::time(nullptr));
  return verdict;
}

}  // namespace host::monitoring
