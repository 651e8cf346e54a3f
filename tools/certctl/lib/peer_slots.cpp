#include "tools/certctl/lib/peer_slots.h"

#include "tools/certctl/lib/output.h"

namespace certctl {

using ozo::result_t;
namespace results = ozo::results;

PeerSlots ReadSlots(Session& session, ivo::PeerType type) {
  PeerSlots slots(type);
  const std::string name = type.keyword();
  ivo::ServerCertificate server;
  const result_t readServer = session.host().ReadRecord(type, server);
  session.ThrowIfStoreFailed(readServer);
  if (readServer == results::NotFound) {
    slots.problem = "no " + name + " server certificate is stored: nothing to trust the peer with";
    return slots;
  }
  ServerFile serverFile;
  if (ozo::Failed(readServer)) {
    slots.problem = "the stored " + name + " server record cannot be read: " + DescribeResult(readServer);
    return slots;
  }
  if (const std::string problem = ReadServerFile(server.certificate, serverFile); !problem.empty()) {
    slots.problem = "the stored " + name + " server certificate " + problem;
    return slots;
  }
  slots.anchor = std::move(serverFile.certificates.front());

  ivo::ClientCertificate client;  // wipes the password when the scope ends
  const result_t readClient = session.host().ReadRecord(type, client);
  session.ThrowIfStoreFailed(readClient);
  if (readClient == results::NotFound) return slots;
  ClientFile opened;
  const ContainerProblem problem =
      ozo::Failed(readClient) ? ContainerProblem::Damaged : ReadClientFile(client.certificate, client.password, opened);
  if (problem != ContainerProblem::None)
    slots.problem = "the stored " + name + " client certificate cannot be used: " + Describe(problem, Holder::Record);
  else
    slots.client = std::move(opened);
  return slots;
}

std::map<ivo::PeerType, PeerSlots> ReadPeerSlots(const RunOptions& options, const std::set<ivo::PeerType>& types) {
  Session session(options, Access::Read, true);
  std::map<ivo::PeerType, PeerSlots> slots;
  for (const ivo::PeerType type : types) slots.emplace(type, ReadSlots(session, type));
  return slots;
}

}  // namespace certctl
