#include "tools/certctl/probe/stored_revocation.h"

#include <openssl/err.h>

#include "host/revocation/fetch.h"
#include "tools/certctl/lib/certificate_file.h"
#include "tools/certctl/lib/failure.h"

namespace certctl {
namespace {

struct Stored {
  ivo::PeerType type;
  bool client;
  UniquePtr<X509> certificate;
};

}  // namespace

std::vector<SlotRevocation> CheckStoredRevocation(Session& session, const std::string& source,
                                                  const host::Deadline& deadline) {
  std::string error;
  const std::vector<UniquePtr<X509_CRL>> crls = host::revocation::LoadCrls(source, deadline, error);
  if (crls.empty()) throw Failure(kExitUsage, "--crl " + error);
  std::vector<Stored> stored;
  std::vector<UniquePtr<X509>> issuers;  // every certificate at hand that may have signed a CRL
  for (const ivo::PeerType type : ivo::PeerType::All()) {
    ivo::ServerCertificate server;
    const ozo::result_t readServer = session.host().ReadRecord(type, server);
    session.ThrowIfStoreFailed(readServer);
    ServerFile file;
    if (ozo::Succeeded(readServer) && ReadServerFile(server.certificate, file).empty()) {
      for (const UniquePtr<X509>& each : file.certificates)
        if (X509_up_ref(each.get())) issuers.emplace_back(each.get());
      stored.push_back({type, false, std::move(file.certificates.front())});
    }
    ivo::ClientCertificate client;
    const ozo::result_t readClient = session.host().ReadRecord(type, client);
    session.ThrowIfStoreFailed(readClient);
    ClientFile container;
    if (ozo::Succeeded(readClient) &&
        ReadClientFile(client.certificate, client.password, container) == ContainerProblem::None) {
      for (UniquePtr<X509>& other : container.others) issuers.push_back(std::move(other));
      stored.push_back({type, true, std::move(container.certificate)});
    }
  }
  std::vector<SlotRevocation> found;
  for (const Stored& each : stored) {
    if (!host::revocation::CrlOfIssuer(crls, each.certificate.get()) ||
        X509_check_issued(each.certificate.get(), each.certificate.get()) == X509_V_OK)
      continue;
    SlotRevocation slot{each.type, each.client, {}};
    // The issuer is the certificate whose key signed this one: a name and
    // key id can be copied into a certificate of anyone's (a container may
    // hold one), and a CRL checked with its key proves nothing.
    X509* issuer = nullptr;
    for (const UniquePtr<X509>& candidate : issuers)
      if (!issuer && X509_check_issued(candidate.get(), each.certificate.get()) == X509_V_OK &&
          X509_verify(each.certificate.get(), X509_get0_pubkey(candidate.get())) == 1)
        issuer = candidate.get();
    ERR_clear_error();
    if (issuer) {
      slot.verdict = host::revocation::CrlVerdicts({each.certificate.get(), issuer}, 1, crls).front();
    } else {
      slot.verdict.status = RevocationStatus::Unknown;
      slot.verdict.problem = "the CRL's signature cannot be checked: its issuer's certificate is not stored";
    }
    slot.verdict.source = "CRL " + source;
    found.push_back(std::move(slot));
  }
  return found;
}

}  // namespace certctl
