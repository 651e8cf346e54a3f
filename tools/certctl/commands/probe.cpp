// probe: whether a type's stored pair works against its peer, as a
// monitoring plugin reports it. Like check, its exit status is the plugin
// state (0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN) and its first line the
// status line. It reads the store and changes nothing, journals nothing.
#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/monitoring.h"
#include "tools/certctl/lib/peer_slots.h"
#include "tools/certctl/probe/report.h"

namespace certctl::commands {
namespace {

struct Arguments {
  PeerType type;
  host::tls::PeerAddress target;
  std::string servername;
  Timeout timeout;
  Days warning{30};
  Days critical{7};
  bool ocsp = false;
  bool ocspLeafOnly = false;
  std::string crl;
  bool requireStapling = false;
  RevocationMode revocation;
  Hours revocationWarning;
  Days ocspMaxAge{kDefaultOcspMaxAgeDays};
};

int Print(const GlobalOptions& global, const ProbeVerdict& verdict, const Thresholds& thresholds) {
  if (global.json)
    PrintJson(VerdictJson(verdict));
  else
    PrintVerdict(verdict, thresholds);
  return static_cast<int>(verdict.state);
}

int Probe(const GlobalOptions& global, const Arguments& arguments) {
  ProbeOptions options;
  options.servername = arguments.servername;
  options.deadline = host::Deadline(arguments.timeout.seconds);
  options.revocation.ocsp = arguments.ocsp || arguments.ocspLeafOnly;
  options.revocation.ocspLeafOnly = arguments.ocspLeafOnly;
  options.revocation.crl = arguments.crl;
  options.revocation.requireStapling = arguments.requireStapling;
  options.revocation.policy = arguments.revocation.value;
  options.revocation.warningHours = arguments.revocationWarning.value;
  options.revocation.ocspMaxAgeSeconds = arguments.ocspMaxAge.value * 86400;
  try {
    options.thresholds = ThresholdsOf(arguments.warning.value, arguments.critical.value);
    const PeerSlots slots = std::move(ReadPeerSlots(global, {arguments.type.value}).at(arguments.type.value));
    return Print(global, ProbePeer(slots, arguments.target, options), options.thresholds);
  } catch (const Failure& failure) {
    // Whatever keeps the probe from running (a store or library that cannot
    // be used) is UNKNOWN, as monitoring expects.
    return Print(global, Unknown(failure.what()), options.thresholds);
  } catch (const std::exception& failure) {
    // A fault of certctl's own still gives monitoring a status line.
    return Print(global, Unknown(std::string("certctl failed: ") + failure.what()), options.thresholds);
  }
}

}  // namespace

Command Probe() {
  Command probe = Define<Arguments>(
      "probe", "try the stored pair against its peer (TLS)",
      {Operand(&Arguments::type, "TYPE"), Operand(&Arguments::target, "HOST[:PORT]")},
      {Option(&Arguments::servername, "--servername", "NAME",
              "the name sent (SNI) and checked in the peer's certificate (HOST when a name)"),
       Option(&Arguments::timeout, "--timeout", "SECONDS", "give up a probe's connect and handshake after SECONDS"),
       Option(&Arguments::warning, "-w,--warning", "DAYS", "WARNING when a certificate ends within DAYS"),
       Option(&Arguments::critical, "-c,--critical", "DAYS", "CRITICAL when it ends within DAYS"),
       Switch(&Arguments::ocsp, "--ocsp", "ask the OCSP responders when nothing good is stapled"),
       Switch(&Arguments::ocspLeafOnly, "--ocsp-leaf-only", "ask only the peer's own responder (implies --ocsp)"),
       Option(&Arguments::crl, "--crl", "FILE|URL|fetch",
              "check the chain against CRLs (fetch: the distribution points)"),
       Switch(&Arguments::requireStapling, "--require-stapling", "CRITICAL when the peer staples no OCSP response"),
       Option(&Arguments::revocation, "--revocation", "soft|warn|strict",
              "how a revocation check that could not be made counts (soft: OK, warn: WARNING, strict: CRITICAL)"),
       Option(&Arguments::revocationWarning, "--revocation-warning", "HOURS",
              "WARNING when an OCSP response or CRL is due for an update within HOURS"),
       Option(&Arguments::ocspMaxAge, "--ocsp-max-age", "DAYS",
              "an OCSP answer without a next update is stale after DAYS")},
      Probe);
  probe.exitStatus = kPluginExitStatus;
  probe.unknown = [](const GlobalOptions& global, const std::string& why) {
    return Print(global, Unknown(why), Thresholds());
  };
  return probe;
}

}  // namespace certctl::commands
