#include "tools/certctl/commands.h"

#include <cctype>
#include <sstream>

#include "tools/certctl/command_support.h"
#include "tools/certctl/errors.h"

namespace certctl {
namespace {

const OptionSpec kPolicy{"--policy", nullptr, "the change comes from the policy (never refused by it)"};
const OptionSpec kPasswordFile{"--password-file", "FILE", "the container's password: FILE's first line (- for stdin)"};
const OptionSpec kPasswordEnv{"--password-env", "VARIABLE", "the container's password: the variable's value"};
const OptionSpec kOut{"-o,--out", "FILE", "write to FILE instead of standard output (- for stdout)"};
const OptionSpec kType{"-t,--type", "TYPE", "only this type (edr, sandbox, ndr, siem or 1-4)"};
const OptionSpec kKind{"--kind", "KIND", "only this kind (server or client)"};
const OptionSpec kWarning{"-w,--warning", "DAYS", "WARNING when a certificate ends within DAYS (30)"};
const OptionSpec kCritical{"-c,--critical", "DAYS", "CRITICAL when it ends within DAYS (7)"};
const OptionSpec kTimeout{"--timeout", "SECONDS", "give up a probe's connect and handshake after SECONDS (10)"};

std::string Words(const std::string& names) {
  std::string words;
  std::istringstream list(names);
  for (std::string name; std::getline(list, name, ',');) words += (words.empty() ? "" : ", ") + name;
  return words;
}

// "[-o FILE]", "--from OLD.db", "[--policy]"
std::string Synopsis(const OptionSpec& option) {
  const std::string names = option.names;
  const std::size_t comma = names.find(',');
  std::string text = comma == std::string::npos ? names : names.substr(0, comma);
  if (option.value) text += std::string(" ") + option.value;
  if (option.repeatable) text += "...";
  return option.required ? text : "[" + text + "]";
}

// `left` in a column `width` wide, then `right` wrapped at 79 characters in
// the column after it (on the next line when `left` fills its column).
std::string Column(const std::string& left, const std::string& right, std::size_t width) {
  std::string text = "  " + left;
  std::size_t at = text.size();
  if (at + 2 > width + 2) {
    text += "\n";
    at = 0;
  }
  std::istringstream words(right);
  bool first = true;
  for (std::string word; words >> word; first = false) {
    if (!first && at + 1 + word.size() > 79) {
      text += "\n";
      at = 0;
    }
    const std::size_t pad = at == 0 ? width + 2 : first ? width + 2 - at : 1;
    text += std::string(pad, ' ') + word;
    at += pad + word.size();
  }
  return text + "\n";
}

std::string OptionLines(const std::vector<OptionSpec>& options) {
  std::string lines;
  for (const OptionSpec& option : options)
    lines += Column(Words(option.names) + (option.value ? std::string(" ") + option.value : ""), option.help, 26);
  return lines;
}

constexpr const char* kExitStatus = R"(Exit status: 0 done; 1 nothing to do; 2 the component refused or failed (its
code is printed, e.g. 0x8000004c (Not found)); 3 bad usage or input; 4 the
store or the library cannot be used. check and probe exit with the
monitoring-plugin states instead: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.
)";

}  // namespace

std::string Invocation::Value(const std::string& name) const {
  const auto found = values.find(name);
  return found == values.end() || found->second.empty() ? std::string() : found->second.back();
}

const std::vector<OptionSpec>& GlobalOptions() {
  static const std::vector<OptionSpec> kGlobal = {
      {"--store", "PATH",
       "the store (default $CERTCTL_STORE, else for root " CM_SYSTEM_STORE
       ", for others $XDG_DATA_HOME/certctl/certificates.db or ~/.local/share/certctl/certificates.db)"},
      {"--json", nullptr, "machine-readable output"},
      {"--trace", "LEVEL", "the component's trace up to LEVEL (300 errors, 800 all)"},
      {"--log", "FILE", "write the trace to FILE instead of standard error"},
      {"--library", "PATH", "the certificates manager library ($CERTCTL_LIBRARY; else the one installed)"},
      {"-h,--help", nullptr, "this text; with a command, the command's"},
      {"--version", nullptr, "certctl's version"},
  };
  return kGlobal;
}

const std::vector<CommandSpec>& Commands() {
  static const std::vector<CommandSpec> kCommands = {
      {"set-server",
       "TYPE FILE",
       "store a server certificate (DER or PEM)",
       {kPolicy},
       [](const Invocation& i) { return SetCertificate(i, false); }},
      {"set-client",
       "TYPE FILE",
       "store a client certificate (PKCS#12)",
       {kPolicy, kPasswordFile, kPasswordEnv},
       [](const Invocation& i) { return SetCertificate(i, true); }},
      {"get-server",
       "TYPE",
       "the stored server certificate, as stored",
       {kOut},
       [](const Invocation& i) { return GetServer(i, false); }},
      {"pem",
       "TYPE",
       "the stored server certificate as PEM",
       {kOut},
       [](const Invocation& i) { return GetServer(i, true); }},
      {"get-client",
       "TYPE",
       "the stored PKCS#12 container",
       {{"-o,--out", "FILE", "where the container goes (- for stdout)", true},
        {"--show-password", nullptr, "print the stored password too"}},
       GetClient},
      {"query-server",
       "TYPE",
       "the server certificate described as JSON",
       {},
       [](const Invocation& i) { return Query(i, false); }},
      {"query-client",
       "TYPE",
       "the client certificate described as JSON",
       {},
       [](const Invocation& i) { return Query(i, true); }},
      {"remove-server",
       "TYPE",
       "remove the server certificate",
       {kPolicy},
       [](const Invocation& i) { return RemoveCertificate(i, false); }},
      {"remove-client",
       "TYPE",
       "remove the client certificate",
       {kPolicy},
       [](const Invocation& i) { return RemoveCertificate(i, true); }},
      {"list", "", "every stored certificate and its status", {}, List},
      {"events",
       "",
       "the journal's events, oldest first",
       {{"--since", "DATE", "only those since DATE (2026-01-31 or 2026-01-31T12:00:00Z, UTC)"},
        {"--tail", "N", "only the newest N"}},
       Events},
      {"events prune",
       "",
       "remove the oldest events",
       {{"--keep", "N", "all but the newest N"}, {"--before", "DATE", "those older than DATE"}},
       PruneEvents},
      {"policy show", "", "the settings the policy locks", {}, PolicyShow},
      {"policy lock",
       "TYPE KIND",
       "lock a setting against local changes",
       {},
       [](const Invocation& i) { return PolicyLock(i, true); }},
      {"policy unlock", "TYPE KIND", "unlock a setting", {}, [](const Invocation& i) { return PolicyLock(i, false); }},
      {"upgrade",
       "",
       "copy the certificates of an older store",
       {{"--from", "OLD.db", "the older store", true}},
       Upgrade},
      {"inspect",
       "FILE",
       "describe a certificate or container file",
       {{"--client", nullptr, "FILE is a PKCS#12 container"},
        kPasswordFile,
        kPasswordEnv,
        {"--checkend", "SECONDS", "exit 1 when the certificate ends within SECONDS"}},
       Inspect},
      {"check",
       "",
       "expiry, as a monitoring plugin reports it",
       {kWarning, kCritical, kType, kKind, {"--require", "TYPE/KIND,...", "CRITICAL when one of these slots is empty"}},
       Check},
      {"probe",
       "TYPE HOST[:PORT]",
       "try the stored pair against its peer (TLS)",
       {{"--servername", "NAME", "the name sent (SNI) and checked in the peer's certificate (HOST when a name)"},
        kTimeout,
        kWarning,
        kCritical},
       Probe},
      {"metrics",
       "",
       "Prometheus metrics of the store",
       {kOut,
        {"--probe", "TYPE=HOST[:PORT]", "add a probe of TYPE's peer at HOST (repeatable)", false, true},
        kTimeout},
       Metrics},
      {"backup", "FILE", "a consistent, owner-only copy of the store", {}, Backup},
      {"restore", "FILE", "replace the store with a backup", {}, Restore},
      {"repair", "", "remove the records the component cannot use", {kType, kKind}, Repair},
  };
  return kCommands;
}

std::string UsageLine(const CommandSpec& command) {
  std::string line = std::string("usage: certctl ") + command.path;
  if (*command.operands) line += std::string(" ") + command.operands;
  for (const OptionSpec& option : command.options) line += " " + Synopsis(option);
  return line;
}

std::string Help(const CommandSpec* command) {
  if (command) {
    std::string summary = command->summary;
    summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
    std::string text = UsageLine(*command) + "\n\n" + summary + ".\n";
    if (!command->options.empty()) text += "\nOptions:\n" + OptionLines(command->options);
    return text + "\nGlobal options (--store, --json, ...): certctl --help.\n\n" + kExitStatus;
  }
  std::string text = R"(usage: certctl [GLOBAL OPTIONS] COMMAND [ARGUMENTS]

Keeps one trusted server certificate and one client certificate per peer type
(edr, sandbox, ndr, siem; or 1-4) through the certificates manager library.

Commands:
)";
  for (const CommandSpec& each : Commands()) text += Column(UsageLine(each).substr(15), each.summary, 34);
  return text + "\nGlobal options:\n" + OptionLines(GlobalOptions()) +
         "\ncertctl COMMAND --help shows a command's options.\n\n" + kExitStatus;
}

int RunCommand(const Invocation& invocation) {
  for (const CommandSpec& command : Commands()) {
    if (invocation.command != command.path) continue;
    try {
      return command.run(invocation);
    } catch (Failure& failure) {
      if (failure.exitCode != kExitFailed) throw;
      std::string where = invocation.command;
      for (const std::string& argument : invocation.arguments) where += " " + argument;
      throw Failure(failure.exitCode, where + ": " + failure.what(), failure.result);
    }
  }
  throw Failure(kExitUsage, "unknown command '" + invocation.command + "'");
}

}  // namespace certctl
