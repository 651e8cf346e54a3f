// The table of certctl's commands, in the order the help lists them, and the
// options every command takes. Each command's row and body live in its file
// under commands/.
#include "tools/certctl/cli/command.h"

namespace certctl {
namespace commands {
Command SetServer();
Command SetClient();
Command GetServer();
Command Pem();
Command GetClient();
Command QueryServer();
Command QueryClient();
Command RemoveServer();
Command RemoveClient();
Command List();
Command Events();
Command PruneEvents();
Command PolicyShow();
Command PolicyLock();
Command PolicyUnlock();
Command Upgrade();
Command Inspect();
Command Check();
Command Probe();
Command Metrics();
Command Backup();
Command Restore();
Command Repair();
Command Request();
Command Install();
Command Renew();
Command Enroll();
Command RenewConfig();
Command RenewStatus();
}  // namespace commands

const std::vector<const Command*>& Commands() {
  using namespace commands;
  static const std::vector<Command> kTable = {
      SetServer(),   SetClient(),    GetServer(),    Pem(),     GetClient(), QueryServer(),
      QueryClient(), RemoveServer(), RemoveClient(), Request(), Install(),   Renew(),
      Enroll(),      RenewConfig(),  RenewStatus(),  List(),    Events(),    PruneEvents(),
      PolicyShow(),  PolicyLock(),   PolicyUnlock(), Upgrade(), Inspect(),   Check(),
      Probe(),       Metrics(),      Backup(),       Restore(), Repair()};
  static const std::vector<const Command*> kCommands = [] {
    std::vector<const Command*> pointers;
    for (const Command& command : kTable) pointers.push_back(&command);
    return pointers;
  }();
  return kCommands;
}

const std::vector<OptionRow>& GlobalOptionRows() {
  using Global = GlobalOptions;
  static const std::vector<OptionRow> kRows = {
      Option<Global, std::string>(
          &Global::store, "--store", "PATH",
          "the store (default $CERTCTL_STORE, else for root " CM_SYSTEM_STORE
          ", for others $XDG_DATA_HOME/certctl/certificates.db or ~/.local/share/certctl/certificates.db)"),
      Switch<Global>(&Global::json, "--json", "machine-readable output"),
      Option<Global, std::uint32_t>(&Global::traceLevel, "--trace", "LEVEL",
                                    "the component's trace up to LEVEL (300 errors, 800 all)"),
      Option<Global, std::string>(&Global::logFile, "--log", "FILE",
                                  "write the trace to FILE instead of standard error"),
      Option<Global, std::string>(&Global::library, "--library", "PATH",
                                  "the certificates manager library ($CERTCTL_LIBRARY; else the one installed)"),
      Switch(&Global::help, "-h,--help", "this text; with a command, the command's"),
      Switch(&Global::version, "--version", "certctl's version"),
  };
  return kRows;
}

}  // namespace certctl
