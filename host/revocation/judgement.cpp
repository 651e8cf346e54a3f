#include "host/revocation/revocation.h"

namespace host::revocation {
namespace {

// A responder's answer judged, or why there is none.
CertificateRevocation Judged(const OcspAnswer& answer, const std::vector<X509*>& chain, int depth, X509* anchor,
                             std::int64_t maxAgeSeconds) {
  if (!answer.response.empty())
    return OcspVerdict(answer.response, chain[depth], chain[depth + 1], chain, anchor, answer.request.get(),
                       answer.source, maxAgeSeconds);
  CertificateRevocation unknown;
  unknown.subject = ossl::NameText(X509_get_subject_name(chain[depth]));
  unknown.status = answer.named ? RevocationStatus::Unknown : RevocationStatus::NotCheckable;
  unknown.source = answer.source;
  unknown.problem = answer.problem;
  return unknown;
}

}  // namespace

void Merge(CertificateRevocation& kept, const CertificateRevocation& other) {
  const auto rank = [](const CertificateRevocation& each) {
    return !each.status                                     ? 0
           : *each.status == RevocationStatus::Revoked      ? 4
           : *each.status == RevocationStatus::Good         ? 3
           : *each.status == RevocationStatus::NotCheckable ? 1
                                                            : 2;
  };
  if (rank(other) > rank(kept)) kept = other;
}

RevocationResult JudgeRevocation(const std::vector<X509*>& chain, int anchorDepth, const RevocationFacts& facts,
                                 const RevocationOptions& options) {
  RevocationResult result;
  result.stapled = !facts.stapled.empty();
  if (anchorDepth <= 0 || static_cast<std::size_t>(anchorDepth) >= chain.size()) return result;
  X509* anchor = chain[anchorDepth];
  for (int depth = 0; depth < anchorDepth; ++depth) {
    CertificateRevocation entry;
    entry.depth = depth;
    entry.subject = ossl::NameText(X509_get_subject_name(chain[depth]));
    result.certificates.push_back(entry);
  }
  if (result.stapled) {
    CertificateRevocation verdict = OcspVerdict(facts.stapled, chain[0], chain[1], chain, anchor, nullptr,
                                                "stapled OCSP", options.ocspMaxAgeSeconds);
    verdict.depth = 0;
    if (verdict.status != RevocationStatus::Good && verdict.status != RevocationStatus::Revoked)
      result.staplingProblem = verdict.problem;
    Merge(result.certificates[0], verdict);
  }
  for (int depth = 0; depth < anchorDepth && static_cast<std::size_t>(depth) < facts.answers.size(); ++depth)
    if (const std::optional<OcspAnswer>& answer = facts.answers[static_cast<std::size_t>(depth)]) {
      CertificateRevocation asked = Judged(*answer, chain, depth, anchor, options.ocspMaxAgeSeconds);
      asked.depth = depth;
      Merge(result.certificates[static_cast<std::size_t>(depth)], asked);
    }
  if (options.crl.empty() || facts.crlSources.size() < static_cast<std::size_t>(anchorDepth)) return result;
  std::vector<CertificateRevocation> verdicts = CrlVerdicts(chain, anchorDepth, facts.crls);
  for (int depth = 0; depth < anchorDepth; ++depth) {
    CertificateRevocation& verdict = verdicts[static_cast<std::size_t>(depth)];
    CertificateRevocation& kept = result.certificates[static_cast<std::size_t>(depth)];
    const bool unnamed =
        static_cast<std::size_t>(depth) < facts.crlUnnamed.size() && facts.crlUnnamed[static_cast<std::size_t>(depth)];
    verdict.source = unnamed ? "CRL" : "CRL " + facts.crlSources[static_cast<std::size_t>(depth)];
    // A CRL named by the operator covers the issuers it covers: the others
    // are not checked by it, which is no failure of the check.
    if (!options.fetchesCrls() && !facts.crls.empty() && !CrlOfIssuer(facts.crls, chain[depth])) {
      if (!kept.status) kept.problem = "not covered by " + options.crl + " (no CRL of its issuer)";
      continue;
    }
    const std::string& problem = facts.crlProblems[static_cast<std::size_t>(depth)];
    if (!problem.empty() && verdict.status != RevocationStatus::Revoked) verdict.problem = problem;
    if (verdict.status == RevocationStatus::Unknown && unnamed) verdict.status = RevocationStatus::NotCheckable;
    Merge(kept, verdict);
  }
  return result;
}

std::optional<RevocationStatus> ChainStatus(const RevocationResult& revocation) {
  for (const CertificateRevocation& each : revocation.certificates)
    if (each.status == RevocationStatus::Revoked) return each.status;
  if (revocation.certificates.empty()) return std::nullopt;
  return revocation.certificates.front().status;
}

bool AllGood(const RevocationResult& revocation) {
  for (const CertificateRevocation& each : revocation.certificates)
    if (each.status && *each.status != RevocationStatus::Good) return false;
  return true;
}

std::optional<std::int64_t> SoonestUpdate(const RevocationResult& revocation) {
  std::optional<std::int64_t> soonest;
  for (const CertificateRevocation& each : revocation.certificates)
    if (each.status && each.nextUpdate && (!soonest || *each.nextUpdate < *soonest)) soonest = each.nextUpdate;
  return soonest;
}

}  // namespace host::revocation
