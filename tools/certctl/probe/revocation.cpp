#include "tools/certctl/probe/revocation.h"

#include <openssl/x509v3.h>

#include "tools/certctl/lib/certificate_report.h"

namespace certctl {
namespace {

// The distribution point URLs of `certificate`'s CRLs.
std::vector<std::string> DistributionPoints(X509* certificate) {
  std::vector<std::string> urls;
  const UniquePtr<CRL_DIST_POINTS> points(
      static_cast<CRL_DIST_POINTS*>(X509_get_ext_d2i(certificate, NID_crl_distribution_points, nullptr, nullptr)));
  for (int i = 0; points && i < sk_DIST_POINT_num(points.get()); ++i) {
    const DIST_POINT* point = sk_DIST_POINT_value(points.get(), i);
    if (!point->distpoint || point->distpoint->type != 0) continue;
    const GENERAL_NAMES* names = point->distpoint->name.fullname;
    for (int j = 0; j < sk_GENERAL_NAME_num(names); ++j) {
      const std::string text = AlternativeNameText(sk_GENERAL_NAME_value(names, j));
      if (text.rfind("URI:", 0) == 0) urls.push_back(text.substr(4));
    }
  }
  return urls;
}

// The CRLs `options` name for the chain: the given file or URL, or each
// certificate's distribution points. By depth, `sources` says where its
// CRL came from and `problems` what could not be had.
std::vector<UniquePtr<X509_CRL>> CrlsFor(const std::vector<X509*>& chain, int anchorDepth,
                                         const RevocationOptions& options, const host::Deadline& deadline,
                                         std::vector<std::string>& sources, std::vector<std::string>& problems) {
  std::vector<UniquePtr<X509_CRL>> crls;
  problems.assign(static_cast<std::size_t>(anchorDepth), "");
  sources.assign(static_cast<std::size_t>(anchorDepth), options.crl);
  if (!options.fetchesCrls()) {
    std::string error;
    crls = LoadCrls(options.crl, deadline, error);
    for (std::string& problem : problems) problem = error;
    return crls;
  }
  for (int depth = 0; depth < anchorDepth; ++depth) {
    const std::vector<std::string> urls = DistributionPoints(chain[depth]);
    if (urls.empty()) problems[depth] = "its certificate names no CRL distribution point";
    for (const std::string& url : urls) {
      std::string error;
      std::vector<UniquePtr<X509_CRL>> fetched = LoadCrls(url, deadline, error);
      sources[depth] = url;
      problems[depth] = fetched.empty() ? "the CRL cannot be had: " + error : "";
      for (UniquePtr<X509_CRL>& crl : fetched) crls.push_back(std::move(crl));
      if (!fetched.empty()) break;
    }
  }
  return crls;
}

// Which verdict stands when two sources judged one certificate: a
// revocation, else a good answer, else the first unknown.
void Merge(CertificateRevocation& kept, const CertificateRevocation& other) {
  const auto rank = [](const CertificateRevocation& each) {
    return !each.status                                ? 0
           : *each.status == RevocationStatus::Revoked ? 3
           : *each.status == RevocationStatus::Good    ? 2
                                                       : 1;
  };
  if (rank(other) > rank(kept)) kept = other;
}

}  // namespace

RevocationResult CheckRevocation(const std::vector<X509*>& chain, int anchorDepth, const std::string& stapled,
                                 const RevocationOptions& options, const host::Deadline& deadline) {
  RevocationResult result;
  result.stapled = !stapled.empty();
  if (anchorDepth <= 0 || static_cast<std::size_t>(anchorDepth) >= chain.size()) return result;
  X509* anchor = chain[anchorDepth];
  for (int depth = 0; depth < anchorDepth; ++depth) {
    CertificateRevocation entry;
    entry.depth = depth;
    entry.subject = NameText(X509_get_subject_name(chain[depth]));
    result.certificates.push_back(entry);
  }
  if (result.stapled) {
    CertificateRevocation verdict =
        OcspVerdict(stapled, chain[0], chain[1], chain, anchor, nullptr, "stapled OCSP", options.ocspMaxAgeSeconds);
    verdict.depth = 0;
    if (verdict.status != RevocationStatus::Good && verdict.status != RevocationStatus::Revoked)
      result.staplingProblem = verdict.problem;
    Merge(result.certificates[0], verdict);
  }
  if (options.ocsp)
    for (int depth = 0; depth < anchorDepth; ++depth) {
      CertificateRevocation& kept = result.certificates[static_cast<std::size_t>(depth)];
      if (kept.status == RevocationStatus::Good || kept.status == RevocationStatus::Revoked) continue;
      CertificateRevocation asked =
          AskResponder(chain[depth], chain[depth + 1], chain, anchor, deadline, options.ocspMaxAgeSeconds);
      asked.depth = depth;
      Merge(kept, asked);
    }
  if (!options.crl.empty()) {
    std::vector<std::string> sources, problems;
    const std::vector<UniquePtr<X509_CRL>> crls = CrlsFor(chain, anchorDepth, options, deadline, sources, problems);
    std::vector<CertificateRevocation> verdicts = CrlVerdicts(chain, anchorDepth, crls);
    for (int depth = 0; depth < anchorDepth; ++depth) {
      CertificateRevocation& verdict = verdicts[static_cast<std::size_t>(depth)];
      verdict.source = "CRL " + sources[depth];
      // A CRL named by the operator covers the issuers it covers: the
      // others are not checked by it, which is no failure of the check.
      if (!options.fetchesCrls() && !crls.empty() && !CrlOfIssuer(crls, chain[depth])) {
        CertificateRevocation& kept = result.certificates[static_cast<std::size_t>(depth)];
        if (!kept.status) kept.problem = "not covered by " + options.crl + " (no CRL of its issuer)";
        continue;
      }
      if (!problems[depth].empty() && verdict.status != RevocationStatus::Revoked) verdict.problem = problems[depth];
      Merge(result.certificates[static_cast<std::size_t>(depth)], verdict);
    }
  }
  return result;
}

}  // namespace certctl
