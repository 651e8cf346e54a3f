#include "tools/certctl/probe/peer_verdict.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iostream>

#include "tools/certctl/lib/certificate_report.h"
#include "tools/certctl/lib/dates.h"
#include "tools/certctl/lib/failure.h"
#include "tools/certctl/lib/inventory.h"
#include "tools/certctl/lib/terminal_text.h"
#include "tools/certctl/probe/revocation_verdict.h"

namespace certctl {
namespace {

using ozo::result_t;
namespace results = ozo::results;

void Add(ProbeVerdict& verdict, State state, const std::string& message) {
  if (verdict.state == State::Ok || Worse(verdict.state, state) != verdict.state)
    verdict.summary = message + (verdict.summary.empty() ? "" : "; " + verdict.summary);
  else
    verdict.summary += "; " + message;
  verdict.state = Worse(verdict.state, state);
}

std::string DaysText(std::int64_t days) { return std::to_string(days) + (days == 1 ? " day" : " days"); }

// Why the peer is not trusted, in an operator's words; the host name check
// is OpenSSL's too, but deserves its own sentence.
std::string TrustProblem(const ProbeVerdict& verdict, const std::string& checkedName) {
  const int error = verdict.result.verifyError;
  if (error == X509_V_ERR_HOSTNAME_MISMATCH || error == X509_V_ERR_IP_ADDRESS_MISMATCH)
    return "the peer's certificate does not name " + checkedName + " (" + X509_verify_cert_error_string(error) + ")";
  return verdict.target.text() + " is not trusted by the stored " + TypeKeyword(verdict.type) +
         " server certificate: " + X509_verify_cert_error_string(error);
}

// The verdict on what the handshake showed.
void JudgeHandshake(ProbeVerdict& verdict, const PeerSlots& slots, const ProbeOptions& options) {
  const ProbeResult& result = verdict.result;
  const std::string type = TypeKeyword(verdict.type);
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
  verdict.works = result.handshake && result.verifyError == X509_V_OK && result.clientAccepted != false;
  if (!result.chain.empty()) {
    const std::int64_t now = std::time(nullptr);
    const PeerCertificate& own = result.chain.front();
    verdict.peerDaysLeft = DaysUntil(own.notAfterSeconds, now);
    const State end = StateOfEnd(own.notAfterSeconds - now, options.thresholds);
    if (verdict.works && end != State::Ok)
      Add(verdict, end,
          own.notAfterSeconds <= now
              ? "the peer's certificate ended on " + own.notAfter
              : "the peer's certificate ends in " + DaysText(*verdict.peerDaysLeft) + " (" + own.notAfter + ")");
  }
  if (result.handshake && slots.client && !result.clientRequested)
    Add(verdict, State::Warning,
        target + " asked for no client certificate; the stored " + type + " client certificate was not offered");
  if (result.handshake && result.clientRequested && !result.clientAccepted)
    Add(verdict, State::Warning,
        "the peer gave no verdict on the " + type + " client certificate " + options.deadline.Within());
}

// The summary of a probe that found nothing wrong.
std::string OkSummary(const ProbeVerdict& verdict) {
  const ProbeResult& result = verdict.result;
  const std::string type = TypeKeyword(verdict.type);
  std::string summary = verdict.target.text() + " is trusted by the stored " + type + " server certificate" +
                        (result.clientOffered ? " and accepts the " + type + " client certificate" : "") + " (" +
                        result.protocol + "); its certificate ends in " + DaysText(verdict.peerDaysLeft.value_or(0)) +
                        " (" + result.chain.front().notAfter + ")";
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

std::string SecondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.4f", seconds);
  return text;
}

std::string ClientLine(const ProbeVerdict& verdict) {
  const ProbeResult& result = verdict.result;
  const std::string stored = verdict.clientSubject.empty() ? "none stored" : verdict.clientSubject;
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

}  // namespace

// The slots as stored: the bytes the component returns from them, read
// without starting a manager, so that the probe costs one handshake and one
// opening of the container, and a record of another slot that keeps the
// manager from starting does not keep this slot from being probed.
PeerSlots ReadSlots(Session& session, ivo::CertificateType type) {
  PeerSlots slots;
  slots.type = type;
  const std::string name = TypeKeyword(type);
  ivo::ServerCertificate server;
  const result_t readServer = session.host().ReadRecord(type, server);
  session.ThrowIfStoreFailed(readServer);
  if (readServer == results::NotFound) {
    slots.problem = "no " + name + " server certificate is stored: nothing to trust the peer with";
    return slots;
  }
  ServerFile serverFile;
  if (ozo::Failed(readServer)) {
    slots.problem = "the stored " + name + " server record cannot be read: " + DescribeResult(readServer);
    return slots;
  }
  if (const std::string problem = ReadServerFile(server.certificate, serverFile); !problem.empty()) {
    slots.problem = "the stored " + name + " server certificate " + problem;
    return slots;
  }
  slots.anchor = std::move(serverFile.certificates.front());

  ivo::ClientCertificate client;  // wipes the password when the scope ends
  const result_t readClient = session.host().ReadRecord(type, client);
  session.ThrowIfStoreFailed(readClient);
  if (readClient == results::NotFound) return slots;
  ClientFile opened;
  const ContainerProblem problem =
      ozo::Failed(readClient) ? ContainerProblem::Damaged : ReadClientFile(client.certificate, client.password, opened);
  if (problem != ContainerProblem::None)
    slots.problem = "the stored " + name + " client certificate cannot be used: " + Describe(problem, Holder::Record);
  else
    slots.client = std::move(opened);
  return slots;
}

std::map<ivo::CertificateType, PeerSlots> ReadPeerSlots(const RunOptions& options,
                                                        const std::set<ivo::CertificateType>& types) {
  Session session(options, Access::Read, true);
  std::map<ivo::CertificateType, PeerSlots> slots;
  for (const ivo::CertificateType type : types) slots.emplace(type, ReadSlots(session, type));
  return slots;
}

ProbeVerdict ProbePeer(const PeerSlots& slots, const ProbeTarget& target, const ProbeOptions& options) {
  if (!slots.problem.empty()) return Unknown(slots.problem, slots.type, target);
  ProbeVerdict verdict;
  verdict.type = slots.type;
  verdict.target = target;
  ProbeInput input;
  input.anchor = slots.anchor.get();
  verdict.anchorSubject = NameText(X509_get_subject_name(slots.anchor.get()));
  if (slots.client) {
    input.clientCertificate = slots.client->certificate.get();
    input.clientKey = slots.client->key.get();
    for (const UniquePtr<X509>& other : slots.client->others) input.clientChain.push_back(other.get());
    verdict.clientSubject = NameText(X509_get_subject_name(input.clientCertificate));
  }
  input.servername = options.servername;
  input.deadline = &options.deadline;
  verdict.result = Handshake(target, input);
  JudgeHandshake(verdict, slots, options);
  if (verdict.works) JudgeRevocation(verdict, options, Add);
  if (verdict.state == State::Ok) verdict.summary = OkSummary(verdict);
  return verdict;
}

ProbeVerdict Unknown(const std::string& why, ivo::CertificateType type, const ProbeTarget& target) {
  ProbeVerdict verdict;
  verdict.type = type;
  verdict.target = target;
  verdict.summary = why;
  return verdict;
}

void PrintVerdict(const ProbeVerdict& verdict, const Thresholds& thresholds) {
  const ProbeResult& result = verdict.result;
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
    const PeerCertificate& each = result.chain[depth];
    lines.push_back("Peer certificate " + std::to_string(depth) + ": " + each.subject + " (issuer " + each.issuer +
                    ", ends " + each.notAfter + ")");
  }
  if (result.chainTrusted || result.verifyError != X509_V_OK) {
    const std::string anchor =
        "the stored " + std::string(TypeKeyword(verdict.type)) + " server certificate (" + verdict.anchorSubject + ")";
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
  const ProbeResult& result = verdict.result;
  Json json = {{"state", NameOf(verdict.state)}, {"summary", verdict.summary}};
  if (!verdict.type) return json;
  json.update({{"type", TypeKeyword(verdict.type)}, {"target", verdict.target.text()}, {"works", verdict.works}});
  if (!result.connected && verdict.anchorSubject.empty()) return json;
  json.update({{"protocol", result.protocol}, {"cipher", result.cipher}});
  if (!result.protocol.empty()) json["handshakeSeconds"] = std::round(result.seconds * 1e4) / 1e4;
  Json chain = Json::array();
  for (const PeerCertificate& each : result.chain)
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

std::string TrialOfNewPair(PeerSlots slots, const ivo::ClientCertificate& record, const ProbeTarget& target,
                           const ProbeOptions& options) {
  ClientFile fresh;
  if (!slots.anchor || ReadClientFile(record.certificate, record.password, fresh) != ContainerProblem::None)
    return slots.problem.empty() ? "the new container cannot be opened" : slots.problem;
  slots.problem.clear();
  slots.client = std::move(fresh);
  const ProbeVerdict verdict = ProbePeer(slots, target, options);
  return verdict.works ? "" : verdict.summary;
}

}  // namespace certctl
