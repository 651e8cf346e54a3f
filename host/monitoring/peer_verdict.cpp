#include "host/monitoring/peer_verdict.h"

#include <algorithm>

#include "ossl/text.h"

namespace host::monitoring {
namespace {

using ossl::IsoFromSeconds;
using revocation::CertificateRevocation;
using revocation::RevocationStatus;

void Add(ProbeVerdict& verdict, State state, const std::string& message) {
  if (verdict.state == State::Ok || Worse(verdict.state, state) != verdict.state)
    verdict.summary = message + (verdict.summary.empty() ? "" : "; " + verdict.summary);
  else
    verdict.summary += "; " + message;
  verdict.state = Worse(verdict.state, state);
}

// The keyword of the probed type: every probe that ran was of a type (only
// a probe that could not start has none).
const char* Keyword(const ProbeVerdict& verdict) { return verdict.type ? verdict.type->keyword() : ""; }

// Why the peer is not trusted, in an operator's words; the host name check
// is OpenSSL's too, but deserves its own sentence.
std::string TrustProblem(const ProbeVerdict& verdict, const std::string& checkedName) {
  const int error = verdict.result.verifyError;
  if (error == X509_V_ERR_HOSTNAME_MISMATCH || error == X509_V_ERR_IP_ADDRESS_MISMATCH)
    return "the peer's certificate does not name " + checkedName + " (" + X509_verify_cert_error_string(error) + ")";
  return verdict.target.text() + " is not trusted by the stored " + Keyword(verdict) +
         " server certificate: " + X509_verify_cert_error_string(error);
}

// The verdict on what the handshake showed.
void JudgeHandshake(ProbeVerdict& verdict, const ProbeOptions& options, std::int64_t now) {
  const tls::HandshakeResult& result = verdict.result;
  const std::string type = Keyword(verdict);
  const std::string target = verdict.target.text();
  verdict.state = State::Ok;
  if (!result.failure.empty())
    Add(verdict, State::Critical,
        (result.connected ? target + ": " : "cannot connect to " + target + ": ") + result.failure);
  else if (result.verifyError != X509_V_OK)
    Add(verdict, State::Critical,
        TrustProblem(verdict, options.servername.empty() ? verdict.target.host : options.servername));
  else if (result.clientAccepted == false)
    Add(verdict, State::Critical,
        result.clientOffered ? "the peer refused the " + type + " client certificate: " + result.clientRefusal
                             : target + " requires a client certificate and no " + type +
                                   " client certificate is stored (it sent: " + result.clientRefusal + ")");
  verdict.works = Works(result);
  if (!result.chain.empty()) {
    const tls::PeerCertificate& own = result.chain.front();
    verdict.peerDaysLeft = DaysUntil(own.notAfterSeconds, now);
    const State end = StateOfEnd(own.notAfterSeconds - now, options.thresholds);
    if (verdict.works && end != State::Ok)
      Add(verdict, end,
          own.notAfterSeconds <= now
              ? "the peer's certificate ended on " + own.notAfter
              : "the peer's certificate ends in " + SpanText(own.notAfterSeconds - now) + " (" + own.notAfter + ")");
  }
  if (result.handshake && verdict.clientStored && !result.clientRequested)
    Add(verdict, State::Warning,
        target + " asked for no client certificate; the stored " + type + " client certificate was not offered");
  if (result.handshake && result.clientRequested && !result.clientAccepted)
    Add(verdict, State::Warning,
        "the peer gave no verdict on the " + type + " client certificate " + options.deadline.Within());
}

// "the peer's certificate CN=x", "the intermediate CN=y".
std::string Naming(const CertificateRevocation& each) {
  return (each.depth == 0 ? "the peer's certificate " : "the intermediate ") + each.subject;
}

// The states of what the revocation checks found. A check that was not
// made says nothing; a revocation anywhere is CRITICAL; the leaf's check
// that could not be made counts as the policy says; under strict, every
// certificate checked must be good, one that names no source included.
void JudgeRevocationFound(ProbeVerdict& verdict, const RevocationOptions& options, std::int64_t now) {
  const RevocationResult& found = verdict.revocation;
  if (options.requireStapling && !found.stapled)
    Add(verdict, State::Critical, verdict.target.text() + " staples no OCSP response (--require-stapling)");
  const bool strict = options.policy == RevocationPolicy::Strict;
  const State unmade = strict ? State::Critical : options.policy == RevocationPolicy::Warn ? State::Warning : State::Ok;
  if (!found.staplingProblem.empty() && unmade != State::Ok)
    Add(verdict, unmade, "the stapled OCSP response is not accepted: " + found.staplingProblem);
  for (const CertificateRevocation& each : found.certificates) {
    const bool judgedByPolicy = each.depth == 0 || strict;
    if (each.status == RevocationStatus::Revoked) {
      Add(verdict, State::Critical,
          Naming(each) + " is revoked" + (each.revokedAt ? " since " + IsoFromSeconds(*each.revokedAt) : "") +
              (each.reason.empty() ? "" : " (" + each.reason + ")") + " by " + each.source +
              (each.problem.empty() ? "" : "; " + each.problem));
    } else if (each.status == RevocationStatus::Unknown && judgedByPolicy && unmade != State::Ok &&
               !(each.depth == 0 && !found.staplingProblem.empty() && each.problem == found.staplingProblem)) {
      Add(verdict, unmade, "the revocation of " + Naming(each) + " is unknown: " + each.problem);
    } else if (each.status == RevocationStatus::NotCheckable && strict) {
      Add(verdict, State::Critical,
          "the revocation of " + Naming(each) + " is not checkable: " + each.problem + " (--revocation strict)");
    } else if (each.status == RevocationStatus::Good && each.nextUpdate && options.warningHours > 0 &&
               *each.nextUpdate - now < static_cast<std::int64_t>(options.warningHours * 3600)) {
      Add(verdict, State::Warning,
          "the " + each.source + " answer on " + Naming(each) + " is due for an update at " +
              IsoFromSeconds(*each.nextUpdate));
    }
  }
}

// What the revocation checks came to, for a probe that found nothing wrong:
// how many certificates were found good, and each that could not be judged.
std::string RevocationSummary(const RevocationResult& found) {
  const std::vector<CertificateRevocation>& checked = found.certificates;
  const auto good = std::count_if(checked.begin(), checked.end(),
                                  [](const auto& each) { return each.status == RevocationStatus::Good; });
  const auto asked =
      std::count_if(checked.begin(), checked.end(), [](const auto& each) { return each.status.has_value(); });
  if (asked == 0) return "";
  std::string summary = "; revocation: " + std::to_string(good) + " of " + std::to_string(checked.size()) +
                        " certificates below the anchor good, none revoked";
  for (const CertificateRevocation& each : checked)
    if (each.status == RevocationStatus::NotCheckable)
      summary += "; " + Naming(each) + " is not checkable (" + each.problem + ")";
    else if (each.status == RevocationStatus::Unknown)
      summary += "; the revocation of " + Naming(each) + " is unknown (" + each.problem + ")";
  return summary;
}

// The summary of a probe that found nothing wrong.
std::string OkSummary(const ProbeVerdict& verdict, std::int64_t now) {
  const tls::HandshakeResult& result = verdict.result;
  const std::string type = Keyword(verdict);
  return verdict.target.text() + " is trusted by the stored " + type + " server certificate" +
         (result.clientOffered ? " and accepts the " + type + " client certificate" : "") + " (" + result.protocol +
         ")" +
         (result.chain.empty() ? ""
                               : "; its certificate ends in " + SpanText(result.chain.front().notAfterSeconds - now) +
                                     " (" + result.chain.front().notAfter + ")") +
         RevocationSummary(verdict.revocation);
}

}  // namespace

bool Works(const tls::HandshakeResult& result) {
  return result.handshake && result.verifyError == X509_V_OK && result.clientAccepted != false;
}

void JudgePeer(ProbeVerdict& verdict, const ProbeOptions& options, std::int64_t now) {
  JudgeHandshake(verdict, options, now);
  if (verdict.works && verdict.result.chainTrusted) JudgeRevocationFound(verdict, options.revocation, now);
  if (verdict.state == State::Ok) verdict.summary = OkSummary(verdict, now);
}

ProbeVerdict Unknown(const std::string& why, std::optional<ivo::PeerType> type, const tls::PeerAddress& target) {
  ProbeVerdict verdict;
  verdict.type = type;
  verdict.target = target;
  verdict.summary = why;
  return verdict;
}

bool ProbeSucceeded(const ProbeVerdict& verdict, RevocationPolicy policy) {
  const std::optional<RevocationStatus> status = ChainStatus(verdict.revocation);
  return verdict.works && status != RevocationStatus::Revoked &&
         !(policy == RevocationPolicy::Strict && !AllGood(verdict.revocation));
}

}  // namespace host::monitoring
