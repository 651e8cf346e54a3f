#include "tools/certctl/lib/trust_anchors.h"

#include <openssl/x509v3.h>

#include <string_view>

#include "tools/certctl/lib/certificate_file.h"
#include "tools/certctl/lib/output.h"

namespace certctl {
namespace {

bool IsCa(X509* certificate) { return (X509_get_extension_flags(certificate) & EXFLAG_CA) != 0; }

// Takes the CA certificates of `certificates` into `anchors`.
void TakeCas(std::vector<UniquePtr<X509>>& certificates, host::TrustAnchors& anchors) {
  for (UniquePtr<X509>& each : certificates)
    if (each && IsCa(each.get())) anchors.certificates.push_back(std::move(each));
}

}  // namespace

std::string TrustFileProblem(const ozo::blob_t& bytes) {
  ServerFile file;
  // What the file is, without the advice for set-server that follows it.
  if (const std::string problem = ReadServerFile(bytes, file); !problem.empty())
    return problem.substr(0, problem.find(':')) + ": --trusted takes the CA certificates to trust";
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (text.find("PRIVATE KEY-----") != std::string_view::npos)
    return "holds a private key besides its certificates: trust anchors are public, keep the key elsewhere";
  return "";
}

host::TrustAnchors IssuedCertificateAnchors(Session& session, ivo::CertificateType type, const std::string& trusted,
                                            const std::string& origin) {
  host::TrustAnchors anchors;
  const std::string keyword = TypeKeyword(type);
  if (!trusted.empty()) {
    ServerFile file;
    ReadServerFile(ozo::blob_t(trusted.data(), trusted.size()), file);
    anchors.certificates = std::move(file.certificates);
    anchors.origin = origin;
    return anchors;
  }
  ivo::ServerCertificate server;
  const ozo::result_t readServer = session.host().ReadRecord(type, server);
  session.ThrowIfStoreFailed(readServer);
  ServerFile file;
  if (ozo::Succeeded(readServer) && ReadServerFile(server.certificate, file).empty()) {
    TakeCas(file.certificates, anchors);
    anchors.origin = "the stored " + keyword + " server certificate";
    if (!anchors.certificates.empty()) return anchors;
  }
  ivo::ClientCertificate client;
  const ozo::result_t readClient = session.host().ReadRecord(type, client);
  session.ThrowIfStoreFailed(readClient);
  ClientFile container;
  if (ozo::Succeeded(readClient) &&
      ReadClientFile(client.certificate, client.password, container) == ContainerProblem::None) {
    TakeCas(container.others, anchors);
    anchors.origin = "the CA certificates of the " + keyword + " client container";
  }
  return anchors;
}

Failure NoAnchorsRefusal(ivo::CertificateType type) {
  return Failure(kExitUsage, std::string("nothing says which CA may issue the ") + TypeKeyword(type) +
                                 " client certificate (no CA certificate is stored as its server certificate or in "
                                 "its container): pass --trusted CA-FILE, the certificates it must chain to");
}

}  // namespace certctl
