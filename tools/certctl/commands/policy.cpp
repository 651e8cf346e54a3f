// policy show, lock and unlock: the settings the policy locks against local
// changes, kept in the store.
#include <cstdio>

#include "host/storage/journal_records.h"
#include "ivo/certificate_type_table.h"
#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/manager_run.h"
#include "tools/certctl/lib/output.h"

namespace certctl::commands {
namespace {

using ozo::result_t;

struct ShowArguments {};

int Show(const GlobalOptions& global, const ShowArguments&) {
  Session session(global, Access::Read);
  std::set<std::uint32_t> locked;
  const result_t read = session.store().locks().Locked(locked);
  if (ozo::Failed(read))
    throw Failure(kExitStore, "the store cannot be used: cannot read the locks: " + session.StoreFailure(), read);
  Json json = Json::array();
  for (const ivo::PeerType type : ivo::PeerType::All()) {
    const auto& ids = type.ids();
    const bool server = locked.count(ids.serverSetting) != 0, client = locked.count(ids.clientSetting) != 0;
    if (global.json)
      json.push_back({{"type", type.keyword()},
                      {"server", server ? "locked" : "unlocked"},
                      {"client", client ? "locked" : "unlocked"}});
    else
      std::printf("%-8s server %-9s client %s\n", type.keyword(), server ? "locked" : "unlocked",
                  client ? "locked" : "unlocked");
  }
  if (global.json) PrintJson(json);
  return kExitOk;
}

struct LockArguments {
  PeerType type;
  CertKind kind;
};

// A lock that is already as asked is "nothing to do" (exit 1); a change is
// journalled as an operation record.
int SetLock(const GlobalOptions& global, const LockArguments& arguments, bool lock) {
  const ivo::PeerType type = arguments.type.value;
  const bool client = arguments.kind.client;
  const std::uint32_t setting = client ? type.ids().clientSetting : type.ids().serverSetting;
  const std::string slot = std::string(type.keyword()) + (client ? " client" : " server");
  const std::string state = std::string(client ? "client" : "server") + " certificates of " + type.keyword() + " are " +
                            (lock ? "locked" : "unlocked") + " for local changes";
  Session session(global, Access::Write);
  bool locked = false;
  result_t result = session.store().locks().IsLocked(setting, locked);
  const auto facts = [&](bool changed) {
    return Json{
        {"type", type.keyword()}, {"kind", client ? "client" : "server"}, {"locked", lock}, {"changed", changed}};
  };
  if (ozo::Succeeded(result) && locked == lock) {
    Announce(global, state + " already", facts(false));
    return kExitFalse;
  }
  if (ozo::Succeeded(result)) result = session.store().locks().SetLocked(setting, lock);
  if (ozo::Succeeded(result))
    result = session.store().journal().Append(
        host::OperationRecord(lock ? "policy lock" : "policy unlock", slot,
                              lock ? "local changes are refused" : "local changes are allowed", host::ProcessUser()));
  if (ozo::Failed(result))
    throw Failure(kExitStore, "the store cannot be used: cannot change the policy: " + session.StoreFailure(), result);
  session.Commit();
  Announce(global, state, facts(true));
  return kExitOk;
}

}  // namespace

Command PolicyShow() { return Define<ShowArguments>("policy show", "the settings the policy locks", {}, {}, Show); }

Command PolicyLock() {
  return Define<LockArguments>(
      "policy lock", "lock a setting against local changes",
      {Operand(&LockArguments::type, "TYPE"), Operand(&LockArguments::kind, "KIND")}, {},
      [](const GlobalOptions& global, const LockArguments& arguments) { return SetLock(global, arguments, true); });
}

Command PolicyUnlock() {
  return Define<LockArguments>(
      "policy unlock", "unlock a setting",
      {Operand(&LockArguments::type, "TYPE"), Operand(&LockArguments::kind, "KIND")}, {},
      [](const GlobalOptions& global, const LockArguments& arguments) { return SetLock(global, arguments, false); });
}

}  // namespace certctl::commands
