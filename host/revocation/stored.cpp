#include "host/revocation/stored.h"

#include <openssl/err.h>
#include <openssl/x509.h>

#include <string_view>

#include "host/revocation/fetch.h"
#include "ossl/pkcs12.h"
#include "ossl/text.h"

namespace host::revocation {
namespace {

using ossl::UniquePtr;

struct Stored {
  ivo::PeerType type;
  bool client;
  UniquePtr<X509> certificate;
};

}  // namespace

Status CheckStoredByCrl(ServiceHost& services, SqliteStore& store, const std::string& source, const Deadline& deadline,
                        std::vector<SlotRevocation>& found) {
  found.clear();
  std::string error;
  const std::vector<UniquePtr<X509_CRL>> crls = LoadCrls(source, deadline, error);
  if (crls.empty()) return Status(ozo::results::InvalidArgument, error);
  std::vector<Stored> stored;
  std::vector<UniquePtr<X509>> issuers;  // every certificate at hand that may have signed a CRL
  for (const ivo::PeerType type : ivo::PeerType::All()) {
    ivo::ServerCertificate server;
    const ozo::result_t readServer = services.ReadRecord(type, server);
    if (Status failed = store.FirstFailureStatus(); !failed.ok()) return failed;
    std::vector<UniquePtr<X509>> certificates = ozo::Succeeded(readServer)
                                                    ? ossl::ReadCertificates(ossl::View(server.certificate))
                                                    : std::vector<UniquePtr<X509>>();
    if (!certificates.empty()) {
      for (const UniquePtr<X509>& each : certificates)
        if (X509_up_ref(each.get())) issuers.emplace_back(each.get());
      stored.push_back({type, false, std::move(certificates.front())});
    }
    ivo::ClientCertificate client;
    const ozo::result_t readClient = services.ReadRecord(type, client);
    if (Status failed = store.FirstFailureStatus(); !failed.ok()) return failed;
    ossl::Container container;
    if (ozo::Succeeded(readClient) && ossl::OpenContainer(ossl::View(client.certificate), client.password.c_str(),
                                                          container) == ossl::ContainerProblem::None) {
      for (UniquePtr<X509>& other : container.others) issuers.push_back(std::move(other));
      stored.push_back({type, true, std::move(container.certificate)});
    }
  }
  for (const Stored& each : stored) {
    if (!CrlOfIssuer(crls, each.certificate.get()) ||
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
      slot.verdict = CrlVerdicts({each.certificate.get(), issuer}, 1, crls).front();
    } else {
      slot.verdict.status = RevocationStatus::Unknown;
      slot.verdict.problem = "the CRL's signature cannot be checked: its issuer's certificate is not stored";
    }
    slot.verdict.source = "CRL " + source;
    found.push_back(std::move(slot));
  }
  return {};
}

}  // namespace host::revocation
