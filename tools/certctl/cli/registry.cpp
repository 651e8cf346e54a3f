// The table of certctl's commands, in the order the help lists them, and the
// options every command takes. Each command's row and body live in its file
// under commands/.
#include "tools/certctl/cli/command.h"

namespace certctl {
namespace commands {
const Command& SetServer();
const Command& SetClient();
const Command& GetServer();
const Command& Pem();
const Command& GetClient();
const Command& QueryServer();
const Command& QueryClient();
const Command& RemoveServer();
const Command& RemoveClient();
const Command& List();
const Command& Events();
const Command& PruneEvents();
const Command& PolicyShow();
const Command& PolicyLock();
const Command& PolicyUnlock();
const Command& Upgrade();
const Command& Inspect();
const Command& Check();
const Command& Probe();
const Command& Metrics();
const Command& Backup();
const Command& Restore();
const Command& Repair();
}  // namespace commands

const std::vector<const Command*>& Commands() {
  using namespace commands;
  static const std::vector<const Command*> kCommands = {
      &SetServer(),   &SetClient(),    &GetServer(),    &Pem(),     &GetClient(), &QueryServer(),
      &QueryClient(), &RemoveServer(), &RemoveClient(), &List(),    &Events(),    &PruneEvents(),
      &PolicyShow(),  &PolicyLock(),   &PolicyUnlock(), &Upgrade(), &Inspect(),   &Check(),
      &Probe(),       &Metrics(),      &Backup(),       &Restore(), &Repair()};
  return kCommands;
}

const std::vector<OptionRow>& GlobalOptionRows() {
  using Global = GlobalOptions;
  static const std::vector<OptionRow> kRows = {
      Option(&Global::store, "--store", "PATH",
             "the store (default $CERTCTL_STORE, else for root " CM_SYSTEM_STORE
             ", for others $XDG_DATA_HOME/certctl/certificates.db or ~/.local/share/certctl/certificates.db)"),
      Switch(&Global::json, "--json", "machine-readable output"),
      Option(&Global::traceLevel, "--trace", "LEVEL", "the component's trace up to LEVEL (300 errors, 800 all)"),
      Option(&Global::logFile, "--log", "FILE", "write the trace to FILE instead of standard error"),
      Option(&Global::library, "--library", "PATH",
             "the certificates manager library ($CERTCTL_LIBRARY; else the one installed)"),
      Switch(&Global::help, "-h,--help", "this text; with a command, the command's"),
      Switch(&Global::version, "--version", "certctl's version"),
  };
  return kRows;
}

}  // namespace certctl
