#include "tools/certctl/probe/revocation_verdict.h"

#include <ctime>

#include "tools/certctl/lib/dates.h"

namespace certctl {
namespace {

// "the peer's certificate CN=x", "the intermediate CN=y".
std::string Naming(const CertificateRevocation& each) {
  return (each.depth == 0 ? "the peer's certificate " : "the intermediate ") + each.subject;
}

const char* StatusName(const std::optional<RevocationStatus>& status) {
  return !status                                ? "not checked"
         : *status == RevocationStatus::Good    ? "good"
         : *status == RevocationStatus::Revoked ? "revoked"
                                                : "unknown";
}

}  // namespace

void JudgeRevocation(ProbeVerdict& verdict, const ProbeOptions& options,
                     void (*add)(ProbeVerdict&, State, const std::string&)) {
  const ProbeResult& result = verdict.result;
  if (!result.chainTrusted || result.verifiedChain.empty()) return;
  std::vector<UniquePtr<X509>> chain;
  for (const std::string& der : result.verifiedChain) {
    const auto* at = reinterpret_cast<const unsigned char*>(der.data());
    chain.emplace_back(d2i_X509(nullptr, &at, static_cast<long>(der.size())));
    if (!chain.back()) return;
  }
  const RevocationOptions& revocation = options.revocation;
  verdict.revocation =
      CheckRevocation(ossl::Borrowed(chain), result.anchorDepth, result.stapledResponse, revocation, options.deadline);
  const RevocationResult& found = verdict.revocation;
  if (revocation.requireStapling && !found.stapled)
    add(verdict, State::Critical, verdict.target.text() + " staples no OCSP response (--require-stapling)");
  const State unmade = revocation.policy == RevocationPolicy::Strict ? State::Critical
                       : revocation.policy == RevocationPolicy::Warn ? State::Warning
                                                                     : State::Ok;
  if (!found.staplingProblem.empty() && unmade != State::Ok)
    add(verdict, unmade, "the stapled OCSP response is not accepted: " + found.staplingProblem);
  const std::int64_t now = std::time(nullptr);
  for (const CertificateRevocation& each : found.certificates) {
    if (each.status == RevocationStatus::Revoked) {
      add(verdict, State::Critical,
          Naming(each) + " is revoked" + (each.revokedAt ? " since " + IsoFromSeconds(*each.revokedAt) : "") +
              (each.reason.empty() ? "" : " (" + each.reason + ")") + " by " + each.source +
              (each.problem.empty() ? "" : "; " + each.problem));
    } else if (each.status == RevocationStatus::Unknown && unmade != State::Ok &&
               !(each.depth == 0 && each.problem == found.staplingProblem)) {
      add(verdict, unmade, "the revocation of " + Naming(each) + " is unknown: " + each.problem);
    } else if (each.status == RevocationStatus::Good && each.nextUpdate && revocation.warningHours > 0 &&
               *each.nextUpdate - now < static_cast<std::int64_t>(revocation.warningHours * 3600)) {
      add(verdict, State::Warning,
          "the " + each.source + " answer on " + Naming(each) + " is due for an update at " +
              IsoFromSeconds(*each.nextUpdate));
    }
  }
}

std::vector<std::string> RevocationLines(const RevocationResult& revocation) {
  std::vector<std::string> lines;
  if (revocation.stapled)
    lines.push_back("OCSP stapling: a response was stapled" +
                    (revocation.staplingProblem.empty() ? "" : ", not accepted: " + revocation.staplingProblem));
  for (const CertificateRevocation& each : revocation.certificates) {
    if (!each.status && each.problem.empty()) continue;
    std::string line = "Revocation " + std::to_string(each.depth) + ": " + each.subject + " " +
                       StatusName(each.status) + (each.status ? " by " + each.source : "");
    if (each.revokedAt) line += ", revoked on " + IsoFromSeconds(*each.revokedAt);
    if (!each.reason.empty()) line += " (" + each.reason + ")";
    if (!each.problem.empty()) line += ": " + each.problem;
    if (each.nextUpdate && each.status == RevocationStatus::Good)
      line += ", next update " + IsoFromSeconds(*each.nextUpdate);
    lines.push_back(line);
  }
  return lines;
}

Json RevocationJson(const RevocationResult& revocation) {
  Json certificates = Json::array();
  for (const CertificateRevocation& each : revocation.certificates) {
    Json entry = {{"depth", each.depth}, {"subject", each.subject}, {"status", StatusName(each.status)}};
    if (!each.source.empty() && each.status) entry["source"] = each.source;
    if (!each.problem.empty()) entry["problem"] = each.problem;
    if (!each.reason.empty()) entry["reason"] = each.reason;
    if (each.revokedAt) entry["revokedAt"] = IsoFromSeconds(*each.revokedAt);
    if (each.nextUpdate) entry["nextUpdate"] = IsoFromSeconds(*each.nextUpdate);
    certificates.push_back(std::move(entry));
  }
  return {{"stapled", revocation.stapled},
          {"staplingProblem", revocation.staplingProblem},
          {"certificates", std::move(certificates)}};
}

std::optional<RevocationStatus> WorstStatus(const RevocationResult& revocation) {
  std::optional<RevocationStatus> worst;
  for (const CertificateRevocation& each : revocation.certificates) {
    if (!each.status) continue;
    if (!worst || *each.status == RevocationStatus::Revoked ||
        (*each.status == RevocationStatus::Unknown && *worst == RevocationStatus::Good))
      worst = each.status;
  }
  return worst;
}

std::optional<std::int64_t> SoonestUpdate(const RevocationResult& revocation) {
  std::optional<std::int64_t> soonest;
  for (const CertificateRevocation& each : revocation.certificates)
    if (each.status && each.nextUpdate && (!soonest || *each.nextUpdate < *soonest)) soonest = each.nextUpdate;
  return soonest;
}

}  // namespace certctl
