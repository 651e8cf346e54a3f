#include "tools/certctl/commands.h"

#include <functional>
#include <map>

#include "tools/certctl/command_support.h"
#include "tools/certctl/errors.h"

namespace certctl {
namespace {

std::string Where(const Invocation& invocation) {
  std::string where = invocation.command;
  for (const std::string& argument : invocation.arguments) where += " " + argument;
  return where;
}

}  // namespace

const std::string& Invocation::Argument(std::size_t index, const char* what) const {
  if (index >= arguments.size()) throw Failure(kExitUsage, command + " needs " + what);
  return arguments[index];
}

std::string Invocation::Value(const std::string& name) const {
  const auto found = values.find(name);
  return found == values.end() ? std::string() : found->second;
}

int RunCommand(const Invocation& invocation) {
  static const std::map<std::string, std::function<int(const Invocation&)>> kCommands = {
      {"set-server", [](const Invocation& i) { return SetCertificate(i, false); }},
      {"set-client", [](const Invocation& i) { return SetCertificate(i, true); }},
      {"get-server", [](const Invocation& i) { return GetServer(i, false); }},
      {"pem", [](const Invocation& i) { return GetServer(i, true); }},
      {"get-client", GetClient},
      {"query-server", [](const Invocation& i) { return Query(i, false); }},
      {"query-client", [](const Invocation& i) { return Query(i, true); }},
      {"remove-server", [](const Invocation& i) { return RemoveCertificate(i, false); }},
      {"remove-client", [](const Invocation& i) { return RemoveCertificate(i, true); }},
      {"list", List},
      {"events", Events},
      {"policy", Policy},
      {"upgrade", Upgrade},
      {"inspect", Inspect},
      {"check", Check},
      {"metrics", Metrics},
      {"backup", Backup},
      {"restore", Restore},
      {"repair", Repair},
  };
  const auto command = kCommands.find(invocation.command);
  if (command == kCommands.end()) throw Failure(kExitUsage, "unknown command '" + invocation.command + "'");
  try {
    return command->second(invocation);
  } catch (Failure& failure) {
    if (failure.exitCode == kExitFailed)
      throw Failure(failure.exitCode, Where(invocation) + ": " + failure.what(), failure.result);
    throw;
  }
}

const char* Usage() {
  return R"(usage: certctl [GLOBAL OPTIONS] COMMAND [ARGUMENTS]

Keeps one trusted server certificate and one client certificate per peer type
(edr, sandbox, ndr, siem; or 1-4) through the certificates manager library.

Commands:
  set-server TYPE FILE [--policy]        store a server certificate (DER or PEM)
  set-client TYPE FILE [--policy] [PASSWORD]
                                         store a client certificate (PKCS#12)
  get-server TYPE [--out FILE]           the stored server certificate as stored
  pem TYPE [--out FILE]                  the stored server certificate as PEM
  get-client TYPE --out FILE [--show-password]
                                         the stored PKCS#12 container
  query-server TYPE | query-client TYPE  the certificate described as JSON
  remove-server TYPE [--policy] | remove-client TYPE [--policy]
  list                                   every stored certificate, with days left
  events [--since DATE] [--tail N]       the published events, oldest first
  events prune [--keep N] [--before DATE]
                                         remove the oldest events
  policy lock|unlock TYPE server|client  lock a setting against local changes
  policy show
  upgrade --from OLD.db                  copy the certificates of an older store
  inspect FILE [--client] [PASSWORD]     describe a file without touching a store
  check [--warning DAYS] [--critical DAYS] [--type TYPE] [--kind KIND]
        [--require TYPE/KIND,...]        expiry as a monitoring plugin reports it
  metrics [--out FILE]                   Prometheus metrics of the store
  backup FILE                            a consistent copy of the store (owner-only)
  restore FILE                           replace the store with a backup
  repair [--type TYPE] [--kind KIND]     remove the records the component cannot use

  --policy   the change comes from the policy (never refused by it)
  PASSWORD   --password-file FILE or --password-env VARIABLE; else a prompt

Global options:
  --store PATH     the store (default $CERTCTL_STORE, else for root
                   )" CM_SYSTEM_STORE R"(, for others
                   $XDG_DATA_HOME/certctl/certificates.db or
                   ~/.local/share/certctl/certificates.db)
  --json           machine-readable output
  --trace LEVEL    the component's trace up to LEVEL (300 errors, 800 all)
  --log FILE       write the trace to FILE instead of stderr
  --library PATH   the certificates manager library ($CERTCTL_LIBRARY; else
                   the one installed with certctl)
  --help           this text;  --version  certctl's version

Exit status: 0 done; 1 nothing to do; 2 the component refused or failed
(its code is printed, e.g. 0x8000004c (Not found)); 3 bad usage or input;
4 the store or the library cannot be used.
check exits with the monitoring-plugin states instead: 0 OK, 1 WARNING (a
certificate ends within --warning days, 30 by default), 2 CRITICAL (within
--critical days, 7 by default; outside its validity period; a --require'd
certificate missing), 3 UNKNOWN (a record that cannot be decoded; the store
or library cannot be used; bad options). The worst state wins: CRITICAL,
WARNING, UNKNOWN, then OK.
)";
}

}  // namespace certctl
