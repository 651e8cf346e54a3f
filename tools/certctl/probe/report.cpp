#include "tools/certctl/probe/report.h"

#include <cmath>
#include <cstdio>
#include <iostream>

#include "tools/certctl/lib/dates.h"
#include "tools/certctl/lib/terminal_text.h"

namespace certctl {
namespace {

std::string SecondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.4f", seconds);
  return text;
}

std::string ClientLine(const ProbeVerdict& verdict) {
  const host::tls::HandshakeResult& result = verdict.result;
  const std::string stored = verdict.clientStored ? verdict.clientSubject : "none stored";
  if (!result.clientRequested) return stored + "; the peer asked for none";
  if (!result.clientOffered)
    return stored + "; the peer asked for one" +
           (result.clientAccepted == false  ? " and refused to go on without it: " + result.clientRefusal
            : result.clientAccepted == true ? " and went on without it"
                                            : "");
  if (!result.clientAccepted) return stored + ", offered; the peer gave no verdict";
  return stored +
         (*result.clientAccepted ? ", offered and accepted" : ", offered and refused: " + result.clientRefusal);
}

const char* StatusName(const std::optional<RevocationStatus>& status) {
  return !status                                     ? "not checked"
         : *status == RevocationStatus::Good         ? "good"
         : *status == RevocationStatus::Revoked      ? "revoked"
         : *status == RevocationStatus::NotCheckable ? "not checkable"
                                                     : "unknown";
}

}  // namespace

void PrintVerdict(const ProbeVerdict& verdict, const Thresholds& thresholds) {
  const host::tls::HandshakeResult& result = verdict.result;
  std::string performance;
  if (!result.protocol.empty()) performance = "'handshake_seconds'=" + SecondsText(result.seconds) + "s";
  if (verdict.peerDaysLeft) {
    const std::int64_t days = *verdict.peerDaysLeft;
    performance += (performance.empty() ? "" : " ") + DaysPerformance("peer_days_left", &days, thresholds);
  }
  std::vector<std::string> lines = {std::string("PROBE ") + NameOf(verdict.state) + " - " + verdict.summary +
                                    (performance.empty() ? "" : " | " + performance)};
  if (!result.protocol.empty()) lines.push_back("Protocol: " + result.protocol + ", " + result.cipher);
  for (std::size_t depth = 0; depth < result.chain.size(); ++depth) {
    const host::tls::PeerCertificate& each = result.chain[depth];
    lines.push_back("Peer certificate " + std::to_string(depth) + ": " + each.subject + " (issuer " + each.issuer +
                    ", ends " + each.notAfter + ")");
  }
  if (verdict.type && (result.chainTrusted || result.verifyError != X509_V_OK)) {
    const std::string anchor =
        "the stored " + std::string(verdict.type->keyword()) + " server certificate (" + verdict.anchorSubject + ")";
    lines.push_back("Trust: " + (result.verifyError != X509_V_OK ? "not established by " + anchor + ": " +
                                                                       X509_verify_cert_error_string(result.verifyError)
                                 : result.anchorDepth == 0 ? anchor + " is the peer's own certificate"
                                                           : anchor + " anchors the peer's chain at depth " +
                                                                 std::to_string(result.anchorDepth)));
  }
  if (result.handshake || result.clientAccepted) lines.push_back("Client certificate: " + ClientLine(verdict));
  for (std::string& line : RevocationLines(verdict.revocation)) lines.push_back(std::move(line));
  for (const std::string& line : lines) std::cout << Printable(line) << "\n";
}

Json VerdictJson(const ProbeVerdict& verdict) {
  const host::tls::HandshakeResult& result = verdict.result;
  Json json = {{"state", NameOf(verdict.state)}, {"summary", verdict.summary}};
  if (!verdict.type) return json;
  json.update({{"type", verdict.type->keyword()}, {"target", verdict.target.text()}, {"works", verdict.works}});
  if (!result.connected && verdict.anchorSubject.empty()) return json;
  json.update({{"protocol", result.protocol}, {"cipher", result.cipher}});
  if (!result.protocol.empty()) json["handshakeSeconds"] = std::round(result.seconds * 1e4) / 1e4;
  Json chain = Json::array();
  for (const host::tls::PeerCertificate& each : result.chain)
    chain.push_back({{"subject", each.subject}, {"issuer", each.issuer}, {"notAfter", each.notAfter}});
  json["peerChain"] = std::move(chain);
  if (verdict.peerDaysLeft) json["peerDaysLeft"] = *verdict.peerDaysLeft;
  json["trust"] = {{"anchor", verdict.anchorSubject},
                   {"trusted", result.chainTrusted},
                   {"anchorDepth", result.anchorDepth},
                   {"problem", result.verifyError ? X509_verify_cert_error_string(result.verifyError) : ""}};
  json["revocation"] = RevocationJson(verdict.revocation);
  json["clientCertificate"] = {{"stored", verdict.clientSubject},
                               {"requested", result.clientRequested},
                               {"offered", result.clientOffered},
                               {"accepted", result.clientAccepted ? Json(*result.clientAccepted) : Json()},
                               {"refusal", result.clientRefusal}};
  return json;
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

void RenderProbes(Exposition& out, const std::vector<ProbeVerdict>& verdicts, RevocationPolicy policy) {
  if (verdicts.empty()) return;
  const auto labels = [](const ProbeVerdict& verdict) {
    // Every probe of the metrics is of a type its request named.
    return Labels{{"type", verdict.type ? verdict.type->keyword() : ""},
                  {"target", verdict.target.text(verdict.labelServername)}};
  };
  out.Family("probe_success", "gauge",
             "Whether the type's stored pair worked against the target (1) or not (0): the handshake completed, the "
             "stored server certificate trusted the peer, the peer refused no client certificate, and no certificate "
             "of its chain is revoked.");
  for (const ProbeVerdict& verdict : verdicts) out.Sample(labels(verdict), ProbeSucceeded(verdict, policy));
  out.Family("probe_duration_seconds", "gauge", "Connect and TLS handshake, or until the probe failed, in seconds.");
  for (const ProbeVerdict& verdict : verdicts) out.SampleSeconds(labels(verdict), verdict.result.seconds);
  out.Family("probe_peer_not_after_seconds", "gauge", "End of the peer's own certificate, Unix time.");
  for (const ProbeVerdict& verdict : verdicts)
    if (!verdict.result.chain.empty()) out.Sample(labels(verdict), verdict.result.chain.front().notAfterSeconds);
  out.Family("probe_ocsp_stapled", "gauge", "Whether the peer stapled an OCSP response (1) or not (0).");
  for (const ProbeVerdict& verdict : verdicts)
    if (verdict.result.handshake) out.Sample(labels(verdict), verdict.revocation.stapled);
  // No sample when nothing was checked: an alert must never read "good"
  // for a check that did not happen.
  out.Family("probe_revocation_status", "gauge",
             "The peer's chain by OCSP and CRLs: 1 when any certificate is revoked, else the peer's own: 0 good, 2 "
             "unknown, 3 not checkable (its certificate names no source the check asked for).");
  for (const ProbeVerdict& verdict : verdicts)
    if (const auto status = ChainStatus(verdict.revocation))
      out.Sample(labels(verdict), *status == RevocationStatus::Good      ? 0
                                  : *status == RevocationStatus::Revoked ? 1
                                  : *status == RevocationStatus::Unknown ? 2
                                                                         : 3);
  out.Family("probe_revocation_next_update_timestamp_seconds", "gauge",
             "The soonest next update of the OCSP responses and CRLs that judged the chain, Unix time.");
  for (const ProbeVerdict& verdict : verdicts)
    if (const auto next = SoonestUpdate(verdict.revocation)) out.Sample(labels(verdict), *next);
  out.Family("probe_tls_version_info", "gauge", "The TLS version the probe negotiated.");
  for (const ProbeVerdict& verdict : verdicts) {
    if (!verdict.result.handshake) continue;
    Labels versioned = labels(verdict);
    versioned.emplace_back("version", verdict.result.protocol);
    out.Sample(versioned, 1);
  }
}

}  // namespace certctl
