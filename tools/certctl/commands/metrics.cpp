// metrics: the stored certificates and the event journal in the Prometheus
// text exposition format, for node_exporter's textfile collector.
#include <algorithm>
#include <ctime>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/inventory.h"
#include "tools/certctl/lib/output.h"
#include "tools/certctl/lib/renewal_facts.h"
#include "tools/certctl/probe/peer_verdict.h"
#include "tools/certctl/probe/revocation_verdict.h"

namespace certctl::commands {
namespace {

struct Arguments {
  OutputFile out;
  std::vector<ProbeRequest> probes;
  Timeout timeout;
  bool ocsp = false;
  std::string crl;
  RevocationMode revocation;
  Days ocspMaxAge{kDefaultOcspMaxAgeDays};
};

constexpr const char* kPrefix = "certificates_manager_";

using Labels = std::vector<std::pair<const char*, std::string>>;

// A label value as the format requires: backslash, quote and line feed escaped.
std::string Escaped(const std::string& value) {
  std::string escaped;
  for (char c : value) {
    if (c == '\\')
      escaped += "\\\\";
    else if (c == '"')
      escaped += "\\\"";
    else if (c == '\n')
      escaped += "\\n";
    else
      escaped += c;
  }
  return escaped;
}

class Exposition {
 public:
  // Starts a metric family: its HELP and TYPE lines.
  void Family(const char* name, const char* type, const char* help) {
    m_name = std::string(kPrefix) + name;
    m_text << "# HELP " << m_name << " " << help << "\n# TYPE " << m_name << " " << type << "\n";
  }
  void Sample(const Labels& labels, std::int64_t value) { Write(labels, std::to_string(value)); }
  void SampleSeconds(const Labels& labels, double seconds) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.6f", seconds);
    Write(labels, text);
  }
  std::string text() const { return m_text.str(); }

 private:
  void Write(const Labels& labels, const std::string& value) {
    m_text << m_name;
    for (std::size_t i = 0; i < labels.size(); ++i)
      m_text << (i ? "," : "{") << labels[i].first << "=\"" << Escaped(labels[i].second) << "\"";
    m_text << (labels.empty() ? " " : "} ") << value << "\n";
  }

  std::string m_name;
  std::ostringstream m_text;
};

Labels CertificateLabels(const StoredCertificate& stored) {
  return {{"type", TypeKeyword(stored.type)},
          {"kind", stored.kind()},
          {"subject", stored.subject},
          {"issuer", stored.issuer},
          {"serial", stored.serial}};
}

// The probes' families, in the style of blackbox_exporter's probe_*.
// A probe succeeds when the pair worked and no certificate of the chain is
// revoked; under --revocation strict, a revocation that could not be
// checked fails it too.
bool Succeeded(const ProbeVerdict& verdict, RevocationPolicy policy) {
  const std::optional<RevocationStatus> status = WorstStatus(verdict.revocation);
  return verdict.works && status != RevocationStatus::Revoked &&
         !(policy == RevocationPolicy::Strict && status == RevocationStatus::Unknown);
}

void RenderProbes(Exposition& out, const std::vector<ProbeVerdict>& verdicts, RevocationPolicy policy) {
  if (verdicts.empty()) return;
  const auto labels = [](const ProbeVerdict& verdict) {
    return Labels{{"type", TypeKeyword(verdict.type)}, {"target", verdict.target.text()}};
  };
  out.Family("probe_success", "gauge",
             "Whether the type's stored pair worked against the target (1) or not (0): the handshake completed, the "
             "stored server certificate trusted the peer, the peer refused no client certificate, and no certificate "
             "of its chain is revoked.");
  for (const ProbeVerdict& verdict : verdicts) out.Sample(labels(verdict), Succeeded(verdict, policy));
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
             "The peer's chain by OCSP and CRLs: 0 good, 1 revoked (any certificate), 2 unknown.");
  for (const ProbeVerdict& verdict : verdicts)
    if (const auto status = WorstStatus(verdict.revocation))
      out.Sample(labels(verdict), *status == RevocationStatus::Good ? 0 : *status == RevocationStatus::Revoked ? 1 : 2);
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

// What metrics reports of the journal: lifetime totals by type, and the
// entries it holds now.
struct JournalFacts {
  std::map<std::uint32_t, std::uint64_t> totals;
  std::size_t entries = 0;
};

// A key waiting for its certificate, by type: one left for long means a
// request nobody took to its end.
void RenderPendingKeys(Exposition& out, const PendingKeys& pending) {
  out.Family("pending_key", "gauge",
             "Whether the type's client slot has a key waiting for its certificate (1) or not (0).");
  for (ivo::CertificateType type = 1; type <= 4; ++type) out.Sample({{"type", TypeKeyword(type)}}, pending.count(type));
  out.Family("pending_key_created_seconds", "gauge", "When the pending key was made, Unix time.");
  for (const auto& [type, created] : pending) out.Sample({{"type", TypeKeyword(type)}}, created);
}

// Each slot's renewals, as cert-manager and certmonger users alert on them:
// a renewal is late when now is past its due time.
void RenderRenewals(Exposition& out, const std::vector<RenewalFacts>& renewals) {
  const auto labels = [](const RenewalFacts& fact) { return Labels{{"type", TypeKeyword(fact.type)}}; };
  out.Family(
      "renewal_due_timestamp_seconds", "gauge",
      "When the configured client certificate is due for renewal (2/3 of its lifetime, or --before), Unix time.");
  for (const RenewalFacts& fact : renewals)
    if (fact.config && fact.due) out.Sample(labels(fact), *fact.due);
  out.Family("renewal_last_success_timestamp_seconds", "gauge", "When a renewal last succeeded, Unix time.");
  for (const RenewalFacts& fact : renewals)
    if (fact.state.lastSuccess) out.Sample(labels(fact), *fact.state.lastSuccess);
  out.Family("renewal_consecutive_failures", "gauge", "Renewal attempts that failed since the last success.");
  for (const RenewalFacts& fact : renewals) out.Sample(labels(fact), fact.state.failures);
  out.Family("renewal_next_attempt_timestamp_seconds", "gauge",
             "When the next renewal attempt is due (backed off after a failure), Unix time.");
  for (const RenewalFacts& fact : renewals)
    if (fact.state.nextAttempt) out.Sample(labels(fact), *fact.state.nextAttempt);
  out.Family("renewal_hook_failed", "gauge", "Whether the command run after the last renewal failed (1) or not (0).");
  for (const RenewalFacts& fact : renewals) out.Sample(labels(fact), !fact.state.hookError.empty());
}

std::string Render(bool readable, const std::vector<StoredCertificate>& inventory, const PendingKeys& pending,
                   const std::vector<RenewalFacts>& renewals, const JournalFacts& journal,
                   const std::vector<ProbeVerdict>& probes, RevocationPolicy policy) {
  const std::int64_t now = std::time(nullptr);
  Exposition out;
  out.Family("store_readable", "gauge", "Whether the store and the library could be used (1) or not (0).");
  out.Sample({}, readable ? 1 : 0);
  RenderProbes(out, probes, policy);
  if (!readable) return out.text();
  out.Family("certificates", "gauge", "Certificates stored, by type and kind.");
  for (ivo::CertificateType type = 1; type <= 4; ++type)
    for (const bool client : {false, true}) {
      std::int64_t count = 0;
      for (const StoredCertificate& stored : inventory) count += stored.type == type && stored.client == client;
      out.Sample({{"type", TypeKeyword(type)}, {"kind", client ? "client" : "server"}}, count);
    }
  out.Family("certificate_decodable", "gauge", "Whether the stored record could be decoded (1) or not (0).");
  for (const StoredCertificate& stored : inventory) out.Sample(CertificateLabels(stored), stored.problem.empty());
  out.Family("certificate_valid", "gauge", "Whether now lies in the certificate's validity period (1) or not (0).");
  for (const StoredCertificate& stored : inventory)
    out.Sample(CertificateLabels(stored),
               stored.problem.empty() && stored.notBeforeSeconds <= now && now < stored.notAfterSeconds);
  out.Family("certificate_not_before_seconds", "gauge", "Start of the certificate's validity period, Unix time.");
  for (const StoredCertificate& stored : inventory)
    if (stored.problem.empty()) out.Sample(CertificateLabels(stored), stored.notBeforeSeconds);
  out.Family("certificate_not_after_seconds", "gauge", "End of the certificate's validity period, Unix time.");
  for (const StoredCertificate& stored : inventory)
    if (stored.problem.empty()) out.Sample(CertificateLabels(stored), stored.notAfterSeconds);
  RenderPendingKeys(out, pending);
  RenderRenewals(out, renewals);
  std::map<std::string, std::int64_t> counts;
  for (const auto& [type, total] : journal.totals) counts[EventName(type)] += static_cast<std::int64_t>(total);
  // A counter only rises: the totals survive pruning, the journal's bound
  // and a restore. The journal's present size is a gauge of its own.
  out.Family("events_total", "counter", "Events the store has journalled in its lifetime, by event.");
  for (const auto& [event, count] : counts) out.Sample({{"event", event}}, count);
  out.Family("journal_events", "gauge", "Entries the store's journal holds now (it keeps the newest 10,000).");
  out.Sample({}, static_cast<std::int64_t>(journal.entries));
  return out.text();
}

// The requests with each type and target once: one series per probe.
std::vector<ProbeRequest> Distinct(const std::vector<ProbeRequest>& requests) {
  std::vector<ProbeRequest> distinct;
  for (const ProbeRequest& request : requests)
    if (std::none_of(distinct.begin(), distinct.end(), [&](const ProbeRequest& kept) {
          return kept.type == request.type && kept.target.text() == request.target.text();
        }))
      distinct.push_back(request);
  return distinct;
}

// Every probe at once, each in its own thread within its timeout, so that a
// peer that never answers delays the metrics by one timeout, not by one per
// probe. A store that cannot be read fails every probe (UNKNOWN, not working).
std::vector<ProbeVerdict> RunProbes(const GlobalOptions& global, const std::vector<ProbeRequest>& requests,
                                    const ProbeOptions& options) {
  std::vector<ProbeVerdict> verdicts(requests.size());
  if (requests.empty()) return verdicts;
  std::set<ivo::CertificateType> types;
  for (const ProbeRequest& request : requests) types.insert(request.type);
  std::map<ivo::CertificateType, PeerSlots> slots;
  try {
    slots = ReadPeerSlots(global, types);
  } catch (const Failure& unusable) {
    for (std::size_t i = 0; i < requests.size(); ++i)
      verdicts[i] = Unknown(unusable.what(), requests[i].type, requests[i].target);
    return verdicts;
  }
  std::vector<std::thread> probes;
  for (std::size_t i = 0; i < requests.size(); ++i)
    probes.emplace_back([&, i] {
      try {
        verdicts[i] = ProbePeer(slots.at(requests[i].type), requests[i].target, options);
      } catch (const std::exception& failure) {
        verdicts[i] = Unknown(failure.what(), requests[i].type, requests[i].target);
      }
    });
  for (std::thread& probe : probes) probe.join();
  return verdicts;
}

// A store that cannot be used still gives a file, whose store_readable is 0;
// the exit status then says so too. A probe that fails does not change the
// exit status: its metrics say so.
int Metrics(const GlobalOptions& global, const Arguments& arguments) {
  ProbeOptions options;
  options.deadline = host::Deadline(arguments.timeout.seconds);
  options.revocation.ocsp = arguments.ocsp;
  options.revocation.crl = arguments.crl;
  options.revocation.policy = arguments.revocation.value;
  options.revocation.ocspMaxAgeSeconds = arguments.ocspMaxAge.value * 86400;
  std::vector<StoredCertificate> inventory;
  PendingKeys pending;
  std::vector<RenewalFacts> renewals;
  JournalFacts journal;
  std::string failure;
  int status = kExitOk;
  try {
    Session session(global, Access::Read);
    inventory = ReadInventory(session);
    pending = ReadPendingKeys(session);
    renewals = ReadRenewalFacts(session, inventory);
    std::vector<host::SqliteJournal::Entry> entries;
    ozo::result_t read = session.store().journal().Totals(journal.totals);
    if (ozo::Succeeded(read)) read = session.store().journal().Entries(entries);
    journal.entries = entries.size();
    if (ozo::Failed(read))
      throw Failure(kExitStore, "the store cannot be used: cannot read the events: " + session.StoreFailure(), read);
  } catch (const Failure& unusable) {
    failure = unusable.what();
    status = unusable.exitCode;
  }
  const std::string text = Render(failure.empty(), inventory, pending, renewals, journal,
                                  RunProbes(global, Distinct(arguments.probes), options), options.revocation.policy);
  WriteOutput(arguments.out.path, text.data(), text.size(), 0644);
  if (!failure.empty()) PrintFailure(failure);
  return status;
}

}  // namespace

Command Metrics() {
  return Define<Arguments>(
      "metrics", "Prometheus metrics of the store", {},
      {Option(&Arguments::out, "-o,--out", "FILE", "write to FILE instead of standard output (- for stdout)"),
       Option(&Arguments::probes, "--probe", "TYPE=HOST[:PORT]", "add a probe of TYPE's peer at HOST (repeatable)"),
       Option(&Arguments::timeout, "--timeout", "SECONDS", "give up a probe's connect and handshake after SECONDS"),
       Switch(&Arguments::ocsp, "--ocsp", "each probe asks the OCSP responders when nothing good is stapled"),
       Option(&Arguments::crl, "--crl", "FILE|URL|fetch", "each probe checks the chain against CRLs"),
       Option(&Arguments::revocation, "--revocation", "soft|warn|strict",
              "how a revocation check that could not be made counts in probe_success"),
       Option(&Arguments::ocspMaxAge, "--ocsp-max-age", "DAYS",
              "an OCSP answer without a next update is stale after DAYS")},
      Metrics);
}

}  // namespace certctl::commands
