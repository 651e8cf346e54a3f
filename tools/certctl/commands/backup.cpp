// backup and restore: the whole store, copied out and back in.
#include <unistd.h>

#include "host/lifecycle/imported.h"
#include "ivo/certificate_type_table.h"
#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/given_store.h"
#include "tools/certctl/lib/manager_run.h"
#include "tools/certctl/lib/output.h"
#include "tools/certctl/lib/slot_changes.h"

namespace certctl::commands {
namespace {

using ozo::result_t;

struct Arguments {
  OutputFile file;
  bool policy = false;
  bool withRenewalSettings = false;
};

// FILE "-" is standard output: the snapshot is streamed, and nothing is
// said on stdout besides it.
int BackupTo(const GlobalOptions& global, const Arguments& arguments) {
  const std::string& file = arguments.file.path;
  Session session(global, Access::Read);
  std::string error;
  const result_t written =
      file == "-" ? session.store().WriteSnapshot(STDOUT_FILENO, error) : session.store().BackupTo(file, error);
  if (ozo::Failed(written)) throw Failure(kExitStore, "no backup written: " + error, written);
  if (file != "-") Announce(global, "store " + session.path() + " backed up to " + file, {{"backup", file}});
  return kExitOk;
}

// What restore tells of the lifecycle tables it settled (see
// SettleImported): a backup is data, never a command.
std::string Told(const host::lifecycle::Settled& settled) {
  using Kind = host::lifecycle::Settled::Kind;
  const std::string keyword = settled.type.keyword();
  switch (settled.kind) {
    case Kind::SettingsDropped:
      return keyword + " renewal settings of the backup (CA " + settled.server +
             ") not imported (--with-renewal-settings imports them)";
    case Kind::SettingsKept:
      return keyword + " renewal settings of this store kept: CA " + settled.server;
    case Kind::SettingsImported:
      return keyword + " renewal settings imported: CA " + settled.server +
             (settled.hook.empty() ? "" : "; after each renewal it runs: " + settled.hook);
    case Kind::SettingsRefused:
      return keyword + " renewal settings of the backup not imported: " + settled.problem;
    case Kind::StateRefused:
      return keyword + " renewal state of the backup not imported: " + settled.problem;
    case Kind::PendingKeyRefused:
      return keyword + " pending key of the backup not imported: " + settled.problem;
    case Kind::PendingCertificateDropped:
      return keyword + " pending certificate dropped, its key kept (certctl request " + keyword +
             " writes its request again)";
  }
  return "";
}

// Replaces the store's records, locks and events with a backup's, in the
// session's unit of work: a store that group or others can read takes no
// backup that holds client certificates. A slot the policy locks keeps its
// record (and its lock) unless --policy: the restore comes from the policy.
// Every slot that changes is journalled as an operation record "restore".
int RestoreFrom(const GlobalOptions& global, const Arguments& arguments) {
  const std::string& file = arguments.file.path;
  const ozo::ref_ptr<host::SqliteStore> backup = file == "-"
                                                     ? OpenStreamedStore(kExitUsage, "nothing was restored: ")
                                                     : OpenGivenStore(file, kExitUsage, "nothing was restored: ");
  const std::unique_ptr<host::ServiceHost> backupHost = ReadingHost(backup);
  Session session(global, backupHost && HoldsClients(*backupHost) ? Access::WriteSecrets : Access::Write);
  const SlotsHeld before = ReadSlotsHeld(session);
  const std::vector<SavedSlot> kept = arguments.policy ? std::vector<SavedSlot>() : LockedSlots(session);
  host::lifecycle::SqliteLifecycleStore lifecycleStore(session.store());
  std::map<ivo::PeerType, host::lifecycle::RenewalConfig> ownSettings;
  session.ThrowIfStoreFailed(lifecycleStore.RenewalConfigs(ownSettings));
  std::string error;
  std::vector<std::string> said;
  result_t result = session.store().RestoreFrom(*backup, said, error);
  if (ozo::Failed(result)) throw Failure(kExitStore, "nothing was restored: " + error, result);
  for (std::string& line : said) line += ": not imported";
  for (const SavedSlot& saved : kept) {
    const auto& ids = saved.type.ids();
    result = PutBack(session.host(), saved);
    if (ozo::Succeeded(result))
      result = session.store().locks().SetLocked(saved.client ? ids.clientSetting : ids.serverSetting, true);
    session.ThrowIfStoreFailed(result);
    said.push_back(std::string(saved.type.keyword()) + (saved.client ? " client" : " server") +
                   " certificate kept: the policy locks it (--policy restores it all the same)");
  }
  JournalChanges(session, "restore", before, ReadSlotsHeld(session));
  std::vector<host::lifecycle::Settled> settled;
  session.ThrowIfStoreFailed(host::lifecycle::SettleImported(lifecycleStore, arguments.withRenewalSettings, ownSettings,
                                                             host::ProcessUser(), settled));
  for (const host::lifecycle::Settled& each : settled) said.push_back(Told(each));
  session.Commit();
  for (const std::string& line : said) Announce(global, line);
  Announce(global, "store " + session.path() + " restored from " + (file == "-" ? "standard input" : file),
           {{"restoredFrom", file}, {"notes", said}});
  return kExitOk;
}

}  // namespace

Command Backup() {
  return Define<Arguments>("backup", "a consistent, owner-only copy of the store (- for stdout)",
                           {Operand(&Arguments::file, "FILE")}, {}, BackupTo);
}

Command Restore() {
  return Define<Arguments>(
      "restore", "replace the store with a backup (- for stdin)", {Operand(&Arguments::file, "FILE")},
      {Switch(&Arguments::policy, "--policy", "the restore comes from the policy: locked slots too"),
       Switch(&Arguments::withRenewalSettings, "--with-renewal-settings",
              "import the renewal settings too (their CA, trust and hook command)")},
      RestoreFrom);
}

}  // namespace certctl::commands
