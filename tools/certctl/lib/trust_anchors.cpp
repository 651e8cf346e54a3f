#include "tools/certctl/lib/trust_anchors.h"

#include <string_view>

#include "ossl/text.h"
#include "tools/certctl/lib/certificate_file.h"
#include "tools/certctl/lib/output.h"

namespace certctl {

std::string TrustFileProblem(const ozo::blob_t& bytes) {
  std::string problem;
  ossl::ReadAnchorFile(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), problem);
  if (problem.empty()) return "";
  // What the file is, when it holds no certificate at all, in the words
  // set-server uses (without its advice).
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (ServerFile file; ossl::ReadCertificates(text).empty()) {
    const std::string what = ReadServerFile(bytes, file);
    if (!what.empty()) problem = what.substr(0, what.find(':'));
  }
  return problem + ": --trusted takes the CA certificates to trust, and nothing else";
}

Failure NoAnchorsRefusal(const std::string& problem) {
  return Failure(kExitUsage, problem + ": pass --trusted CA-FILE, the certificates it must chain to");
}

}  // namespace certctl
