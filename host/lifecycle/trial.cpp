#include "host/lifecycle/trial.h"

#include <string_view>

#include "host/tls/handshake.h"
#include "ossl/pkcs12.h"
#include "ossl/text.h"

namespace host::lifecycle {
namespace {

using Verdict = TrialResult::Verdict;

// The verdict on what the handshake showed; see TlsTrial.
TrialResult Judge(const tls::HandshakeResult& result, const std::string& peer, const std::string& keyword,
                  const Deadline& deadline) {
  if (!result.connected) return {Verdict::Unreached, peer + " could not be reached: " + result.failure};
  if (result.verifyError != X509_V_OK)
    return {Verdict::Unproven, peer + " is not trusted by the stored " + keyword +
                                   " server certificate: " + X509_verify_cert_error_string(result.verifyError)};
  if (result.clientAccepted == false) return {Verdict::Refused, peer + " refused the pair: " + result.clientRefusal};
  if (!result.failure.empty()) return {Verdict::Unreached, peer + " could not be tried: " + result.failure};
  if (!result.clientRequested)
    return {Verdict::Unproven,
            peer + " asked for no client certificate: the pair was never offered, so the trial proves nothing"};
  if (!result.clientAccepted) return {Verdict::Unproven, peer + " gave no verdict on the pair " + deadline.Within()};
  return {};
}

}  // namespace

Trial TlsTrial(ivo::ICertificatesManager& manager) {
  return [&manager](ivo::PeerType type, const ivo::ClientCertificate& newPair, const TrialTarget& target,
                    const Deadline& deadline) -> TrialResult {
    const std::string keyword = type.keyword();
    tls::PeerAddress address;
    if (std::string problem; !tls::ReadPeerAddress(target.peer, address, problem))
      return {Verdict::Unproven, "the peer cannot be tried: " + problem};
    const std::string peer = address.text(target.servername);
    ivo::ServerCertificate server;
    const std::vector<ossl::UniquePtr<X509>> anchors = ozo::Succeeded(manager.GetServerCertificate(type, server))
                                                           ? ossl::ReadCertificates(ossl::View(server.certificate))
                                                           : std::vector<ossl::UniquePtr<X509>>();
    if (anchors.empty())
      return {Verdict::Unproven,
              peer + " cannot be tried: no " + keyword + " server certificate is stored to trust it"};
    ossl::Container pair;
    if (ossl::OpenContainer(ossl::View(newPair.certificate), newPair.password.c_str(), pair) !=
        ossl::ContainerProblem::None)
      return {Verdict::Unproven, peer + " cannot be tried: the container cannot be opened"};
    tls::HandshakeInput input;
    input.anchor = anchors.front().get();
    input.clientCertificate = pair.certificate.get();
    input.clientKey = pair.key.get();
    input.clientChain = ossl::Borrowed(pair.others);
    input.servername = target.servername;
    input.deadline = &deadline;
    return Judge(tls::Handshake(address, input), peer, keyword, deadline);
  };
}

TrialTarget ChooseTrial(bool tryPair, const std::optional<TrialTarget>& ordered, const PendingKey& pending,
                        const TrialTarget& configured) {
  if (!tryPair) return {};
  if (ordered && !ordered->empty()) return *ordered;
  if (!pending.certificates.empty() && !pending.trialPeer.empty()) return KeptTrial(pending);
  return configured;
}

}  // namespace host::lifecycle
