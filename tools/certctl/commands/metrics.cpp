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
#include "tools/certctl/lib/monitoring.h"
#include "tools/certctl/lib/output.h"
#include "tools/certctl/lib/peer_slots.h"
#include "tools/certctl/lib/renewal_facts.h"
#include "tools/certctl/probe/report.h"

namespace certctl::commands {
namespace {

struct Arguments {
  OutputFile out;
  std::vector<ProbeRequest> probes;
  Timeout timeout;
  bool ocsp = false;
  bool ocspLeafOnly = false;
  std::string crl;
  RevocationMode revocation;
  Days ocspMaxAge{kDefaultOcspMaxAgeDays};
};

Labels CertificateLabels(const StoredCertificate& stored) {
  return {{"type", stored.type.keyword()},
          {"kind", stored.kind()},
          {"subject", stored.subject},
          {"issuer", stored.issuer},
          {"serial", stored.serial}};
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
  for (const ivo::PeerType type : ivo::PeerType::All()) out.Sample({{"type", type.keyword()}}, pending.count(type));
  out.Family("pending_key_created_seconds", "gauge", "When the pending key was made, Unix time.");
  for (const auto& [type, facts] : pending) out.Sample({{"type", type.keyword()}}, facts.created);
}

// Each slot's renewals, as cert-manager and certmonger users alert on them:
// a renewal is late when now is past its due time.
void RenderRenewals(Exposition& out, const std::vector<host::lifecycle::SlotRenewals>& renewals) {
  const auto labels = [](const host::lifecycle::SlotRenewals& fact) { return Labels{{"type", fact.type.keyword()}}; };
  out.Family(
      "renewal_due_timestamp_seconds", "gauge",
      "When the configured client certificate is due for renewal (2/3 of its lifetime, or --before), Unix time.");
  for (const host::lifecycle::SlotRenewals& fact : renewals)
    if (fact.settings && fact.due) out.Sample(labels(fact), *fact.due);
  out.Family("renewal_last_success_timestamp_seconds", "gauge", "When a renewal last succeeded, Unix time.");
  for (const host::lifecycle::SlotRenewals& fact : renewals)
    if (fact.state.lastSuccess) out.Sample(labels(fact), *fact.state.lastSuccess);
  out.Family("renewal_consecutive_failures", "gauge", "Renewal attempts that failed since the last success.");
  for (const host::lifecycle::SlotRenewals& fact : renewals) out.Sample(labels(fact), fact.state.failures);
  out.Family("renewal_next_attempt_timestamp_seconds", "gauge",
             "When the timer will next renew the configured client certificate: its due time, or after failures "
             "the later of that and the backoff's end, Unix time.");
  for (const host::lifecycle::SlotRenewals& fact : renewals)
    if (fact.nextAttempt) out.Sample(labels(fact), *fact.nextAttempt);
  out.Family("renewal_hook_failed", "gauge", "Whether the command run after the last renewal failed (1) or not (0).");
  for (const host::lifecycle::SlotRenewals& fact : renewals) out.Sample(labels(fact), !fact.state.hookError.empty());
}

std::string Render(bool readable, const std::vector<StoredCertificate>& inventory, const PendingKeys& pending,
                   const std::vector<host::lifecycle::SlotRenewals>& renewals, const JournalFacts& journal,
                   const std::vector<ProbeVerdict>& probes, RevocationPolicy policy) {
  const std::int64_t now = std::time(nullptr);
  Exposition out;
  out.Family("store_readable", "gauge", "Whether the store and the library could be used (1) or not (0).");
  out.Sample({}, readable ? 1 : 0);
  RenderProbes(out, probes, policy);
  if (!readable) return out.text();
  out.Family("certificates", "gauge", "Certificates stored, by type and kind.");
  for (const ivo::PeerType type : ivo::PeerType::All())
    for (const bool client : {false, true}) {
      std::int64_t count = 0;
      for (const StoredCertificate& stored : inventory) count += stored.type == type && stored.client == client;
      out.Sample({{"type", type.keyword()}, {"kind", client ? "client" : "server"}}, count);
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
          return kept.type == request.type && kept.text() == request.text();
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
  std::set<ivo::PeerType> types;
  for (const ProbeRequest& request : requests) types.insert(request.type);
  std::map<ivo::PeerType, PeerSlots> slots;
  try {
    slots = ReadPeerSlots(global, types);
  } catch (const Failure& unusable) {
    for (std::size_t i = 0; i < requests.size(); ++i)
      verdicts[i] = Unknown(unusable.what(), requests[i].type, requests[i].target);
  }
  std::vector<std::thread> probes;
  for (std::size_t i = 0; i < requests.size() && !slots.empty(); ++i)
    probes.emplace_back([&, i] {
      try {
        ProbeOptions own = options;
        if (!requests[i].servername.empty()) own.servername = requests[i].servername;
        verdicts[i] = ProbePeer(slots.at(requests[i].type), requests[i].target, own);
      } catch (const std::exception& failure) {
        verdicts[i] = Unknown(failure.what(), requests[i].type, requests[i].target);
      }
    });
  for (std::thread& probe : probes) probe.join();
  for (std::size_t i = 0; i < requests.size(); ++i) verdicts[i].labelServername = requests[i].servername;
  return verdicts;
}

// A store that cannot be used still gives a file, whose store_readable is 0;
// the exit status then says so too. A probe that fails does not change the
// exit status: its metrics say so.
int Metrics(const GlobalOptions& global, const Arguments& arguments) {
  ProbeOptions options;
  options.deadline = host::Deadline(arguments.timeout.seconds);
  options.revocation.ocsp = arguments.ocsp || arguments.ocspLeafOnly;
  options.revocation.ocspLeafOnly = arguments.ocspLeafOnly;
  options.revocation.crl = arguments.crl;
  options.revocation.policy = arguments.revocation.value;
  options.revocation.ocspMaxAgeSeconds = arguments.ocspMaxAge.value * 86400;
  std::vector<StoredCertificate> inventory;
  PendingKeys pending;
  std::vector<host::lifecycle::SlotRenewals> renewals;
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
       Option(&Arguments::probes, "--probe", "TYPE=HOST[:PORT][/SERVERNAME]",
              "add a probe of TYPE's peer at HOST, sending SERVERNAME (repeatable)"),
       Option(&Arguments::timeout, "--timeout", "SECONDS", "give up a probe's connect and handshake after SECONDS"),
       Switch(&Arguments::ocsp, "--ocsp", "each probe asks the OCSP responders when nothing good is stapled"),
       Switch(&Arguments::ocspLeafOnly, "--ocsp-leaf-only", "each probe asks only the peer's own responder"),
       Option(&Arguments::crl, "--crl", "FILE|URL|fetch", "each probe checks the chain against CRLs"),
       Option(&Arguments::revocation, "--revocation", "soft|warn|strict",
              "how a revocation check that could not be made counts in probe_success"),
       Option(&Arguments::ocspMaxAge, "--ocsp-max-age", "DAYS",
              "an OCSP answer without a next update is stale after DAYS")},
      Metrics);
}

}  // namespace certctl::commands
