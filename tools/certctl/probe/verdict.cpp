#include "tools/certctl/probe/verdict.h"

#include <algorithm>

#include "tools/certctl/lib/dates.h"
#include "tools/certctl/lib/output.h"

namespace certctl {
namespace {

void Add(ProbeVerdict& verdict, State state, const std::string& message) {
  if (verdict.state == State::Ok || Worse(verdict.state, state) != verdict.state)
    verdict.summary = message + (verdict.summary.empty() ? "" : "; " + verdict.summary);
  else
    verdict.summary += "; " + message;
  verdict.state = Worse(verdict.state, state);
}

std::string DaysText(std::int64_t days) { return std::to_string(days) + (days == 1 ? " day" : " days"); }

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
  const host::tls::HandshakeResult& result = verdict.result;
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
    const host::tls::PeerCertificate& own = result.chain.front();
    verdict.peerDaysLeft = DaysUntil(own.notAfterSeconds, now);
    const State end = StateOfEnd(own.notAfterSeconds - now, options.thresholds);
    if (verdict.works && end != State::Ok)
      Add(verdict, end,
          own.notAfterSeconds <= now
              ? "the peer's certificate ended on " + own.notAfter
              : "the peer's certificate ends in " + DaysText(*verdict.peerDaysLeft) + " (" + own.notAfter + ")");
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
// made says nothing.
void JudgeRevocationFound(ProbeVerdict& verdict, const RevocationOptions& options, std::int64_t now) {
  const RevocationResult& found = verdict.revocation;
  if (options.requireStapling && !found.stapled)
    Add(verdict, State::Critical, verdict.target.text() + " staples no OCSP response (--require-stapling)");
  const State unmade = options.policy == RevocationPolicy::Strict ? State::Critical
                       : options.policy == RevocationPolicy::Warn ? State::Warning
                                                                  : State::Ok;
  if (!found.staplingProblem.empty() && unmade != State::Ok)
    Add(verdict, unmade, "the stapled OCSP response is not accepted: " + found.staplingProblem);
  for (const CertificateRevocation& each : found.certificates) {
    if (each.status == RevocationStatus::Revoked) {
      Add(verdict, State::Critical,
          Naming(each) + " is revoked" + (each.revokedAt ? " since " + IsoFromSeconds(*each.revokedAt) : "") +
              (each.reason.empty() ? "" : " (" + each.reason + ")") + " by " + each.source +
              (each.problem.empty() ? "" : "; " + each.problem));
    } else if (each.status == RevocationStatus::Unknown && unmade != State::Ok &&
               !(each.depth == 0 && !found.staplingProblem.empty() && each.problem == found.staplingProblem)) {
      Add(verdict, unmade, "the revocation of " + Naming(each) + " is unknown: " + each.problem);
    } else if (each.status == RevocationStatus::Good && each.nextUpdate && options.warningHours > 0 &&
               *each.nextUpdate - now < static_cast<std::int64_t>(options.warningHours * 3600)) {
      Add(verdict, State::Warning,
          "the " + each.source + " answer on " + Naming(each) + " is due for an update at " +
              IsoFromSeconds(*each.nextUpdate));
    }
  }
}

// The summary of a probe that found nothing wrong.
std::string OkSummary(const ProbeVerdict& verdict) {
  const host::tls::HandshakeResult& result = verdict.result;
  const std::string type = Keyword(verdict);
  std::string summary = verdict.target.text() + " is trusted by the stored " + type + " server certificate" +
                        (result.clientOffered ? " and accepts the " + type + " client certificate" : "") + " (" +
                        result.protocol + "); its certificate ends in " + DaysText(verdict.peerDaysLeft.value_or(0)) +
                        " (" + (result.chain.empty() ? "" : result.chain.front().notAfter) + ")";
  const std::vector<CertificateRevocation>& checked = verdict.revocation.certificates;
  const auto count =
      std::count_if(checked.begin(), checked.end(), [](const auto& each) { return each.status.has_value(); });
  const std::string of = std::to_string(count) + " of " + std::to_string(checked.size());
  if (WorstStatus(verdict.revocation) == RevocationStatus::Good)
    summary += "; revocation checked for " + of + " certificates below the anchor, none revoked";
  else if (WorstStatus(verdict.revocation) == RevocationStatus::Unknown)
    summary += "; revocation unknown (--revocation soft)";
  return summary;
}

}  // namespace

bool Works(const host::tls::HandshakeResult& result) {
  return result.handshake && result.verifyError == X509_V_OK && result.clientAccepted != false;
}

void JudgePeer(ProbeVerdict& verdict, const ProbeOptions& options, std::int64_t now) {
  JudgeHandshake(verdict, options, now);
  if (verdict.works && verdict.result.chainTrusted) JudgeRevocationFound(verdict, options.revocation, now);
  if (verdict.state == State::Ok) verdict.summary = OkSummary(verdict);
}

ProbeVerdict Unknown(const std::string& why, std::optional<ivo::PeerType> type, const host::tls::PeerAddress& target) {
  ProbeVerdict verdict;
  verdict.type = type;
  verdict.target = target;
  verdict.summary = why;
  return verdict;
}

bool ProbeSucceeded(const ProbeVerdict& verdict, RevocationPolicy policy) {
  const std::optional<RevocationStatus> status = WorstStatus(verdict.revocation);
  return verdict.works && status != RevocationStatus::Revoked &&
         !(policy == RevocationPolicy::Strict && status == RevocationStatus::Unknown);
}

}  // namespace certctl
