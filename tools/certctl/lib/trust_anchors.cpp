#include "tools/certctl/lib/trust_anchors.h"

#include <string_view>

#include "tools/certctl/lib/certificate_file.h"
#include "tools/certctl/lib/output.h"

namespace certctl {

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

Failure NoAnchorsRefusal(ivo::PeerType type) {
  return Failure(kExitUsage, std::string("nothing says which CA may issue the ") + type.keyword() +
                                 " client certificate (no CA certificate is stored as its server certificate or in "
                                 "its container): pass --trusted CA-FILE, the certificates it must chain to");
}

}  // namespace certctl
