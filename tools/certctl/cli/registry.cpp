// The table of certctl's commands and the options every command takes. Each
// command's row and body live in its file under commands/.
#include "tools/certctl/cli/command.h"

namespace certctl {

// Each command, in the order the help lists them: adding a command is its
// file under commands/ (defining commands::NAME()) and one line here.
#define CERTCTL_COMMANDS(X) \
  X(SetServer)              \
  X(SetClient)              \
  X(GetServer)              \
  X(Pem)                    \
  X(GetClient)              \
  X(QueryServer)            \
  X(QueryClient)            \
  X(RemoveServer)           \
  X(RemoveClient)           \
  X(Request)                \
  X(Install)                \
  X(Renew)                  \
  X(Enroll)                 \
  X(RenewConfig)            \
  X(RenewStatus)            \
  X(List)                   \
  X(Events)                 \
  X(PruneEvents)            \
  X(PolicyShow)             \
  X(PolicyLock)             \
  X(PolicyUnlock)           \
  X(Upgrade)                \
  X(Inspect)                \
  X(Check)                  \
  X(Probe)                  \
  X(Metrics)                \
  X(Backup)                 \
  X(Restore)                \
  X(Repair)

namespace commands {
#define CERTCTL_DECLARE(name) Command name();
CERTCTL_COMMANDS(CERTCTL_DECLARE)
#undef CERTCTL_DECLARE
}  // namespace commands

const std::vector<const Command*>& Commands() {
#define CERTCTL_ROW(name) commands::name(),
  static const std::vector<Command> kTable = {CERTCTL_COMMANDS(CERTCTL_ROW)};
#undef CERTCTL_ROW
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
