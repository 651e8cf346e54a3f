// The commands that work on the store itself: its event journal, the
// policy's locks and the upgrade from an older store.
#include <cstdio>
#include <iostream>

#include "app_core/facade/upgrade/persistent_data_upgrader.h"
#include "ivo/certificate_type_table.h"
#include "tools/certctl/command_support.h"
#include "tools/certctl/errors.h"
#include "tools/certctl/output.h"

namespace certctl {

using ozo::result_t;
namespace results = ozo::results;

namespace {

std::string InitiatorText(const ivo::ChangeInitiator& initiator) {
  static const char* kKinds[] = {"policy", "user", "product", "scheduler"};
  std::string text = initiator.kind < 4 ? kKinds[initiator.kind] : "kind " + std::to_string(initiator.kind);
  if (initiator.details) {
    std::string name;
    for (char16_t c : initiator.details->name.view()) name += c < 0x80 ? static_cast<char>(c) : '?';
    text += " " + name + " (" + std::to_string(initiator.details->id) + ")";
  }
  return text;
}

std::string FieldText(const ivo::RuntimeField& field) {
  return field.data.tag() == ozo::types::VariantTag::DateTime ? IsoFromIntervals(field.data.datetime())
                                                              : std::string(field.data.string8().view());
}

// A slot is a type and kind that holds a certificate, as "edr server".
using Slots = std::vector<std::string>;

// The slots a store's tree holds, read from its layout without decoding.
Slots StoredSlots(ozo::IPersistentStorage& store, const std::string& name) {
  Slots slots;
  ozo::ref_ptr<ozo::IStorage> root;
  const result_t found = store.GetStorage(ivo::ClsIdCertificatesManager, root.Ref());
  if (found == results::NotFound) return slots;
  if (ozo::Failed(found)) throw Failure(kExitStore, "cannot read " + name + ": " + DescribeResult(found), found);
  for (const bool client : {false, true}) {
    ozo::ref_ptr<ozo::IStorage> set;
    const result_t opened =
        root->GetNode(client ? ivo::kClientCertificatesSet : ivo::kServerCertificatesSet, set.Ref());
    if (opened == results::PathNotFound || opened == results::NotFound) continue;
    if (ozo::Failed(opened)) throw Failure(kExitStore, "cannot read " + name + ": " + DescribeResult(opened), opened);
    for (ivo::CertificateType type = 1; type <= 4; ++type) {
      ozo::ref_ptr<ozo::IStorage> record;
      const result_t held = set->GetNode(ivo::kCertificateTypeIds[type - 1].storageKey, record.Ref());
      if (ozo::Succeeded(held))
        slots.push_back(std::string(TypeKeyword(type)) + (client ? " client" : " server"));
      else if (held != results::PathNotFound && held != results::NotFound)
        throw Failure(kExitStore, "cannot read " + name + ": " + DescribeResult(held), held);
    }
  }
  return slots;
}

bool Holds(const Slots& slots, const std::string& slot) {
  return std::find(slots.begin(), slots.end(), slot) != slots.end();
}

}  // namespace

int Events(const Invocation& invocation) {
  Session session(invocation.options, false);
  std::vector<ivo::CertificateEvent> events;
  const result_t read = session.store().Events(events);
  if (ozo::Failed(read))
    throw Failure(kExitStore, "the store cannot be used: cannot read the events: " + session.StoreFailure(), read);
  if (invocation.options.json) {
    Json json = Json::array();
    for (const ivo::CertificateEvent& e : events) {
      Json fields = Json::object();
      for (const ivo::RuntimeField& field : e.fields) fields[FieldName(field.name)] = FieldText(field);
      json.push_back({{"event", EventName(e.eventType)},
                      {"type", e.eventType},
                      {"severity", e.severity},
                      {"initiator", InitiatorText(e.initiator)},
                      {"time", IsoFromSeconds(e.time)},
                      {"fields", std::move(fields)}});
    }
    PrintJson(json);
    return kExitOk;
  }
  for (std::size_t i = 0; i < events.size(); ++i) {
    const auto& e = events[i];
    std::printf("%zu  %s  %s (%u)  by %s\n", i + 1, IsoFromSeconds(e.time).c_str(), EventName(e.eventType).c_str(),
                e.eventType, InitiatorText(e.initiator).c_str());
    for (const ivo::RuntimeField& field : e.fields)
      std::printf("     %-15s %s\n", FieldName(field.name).c_str(), FieldText(field).c_str());
  }
  if (events.empty()) std::cout << "no events\n";
  return kExitOk;
}

int Policy(const Invocation& invocation) {
  const std::string& action = invocation.Argument(0, "lock|unlock|show");
  if (action != "show" && action != "lock" && action != "unlock")
    throw Failure(kExitUsage, "policy takes lock, unlock or show");
  if (action == "show") {
    Session session(invocation.options, false);
    std::set<std::uint32_t> locked;
    const result_t read = session.store().LockedSettings(locked);
    if (ozo::Failed(read))
      throw Failure(kExitStore, "the store cannot be used: cannot read the locks: " + session.StoreFailure(), read);
    for (ivo::CertificateType type = 1; type <= 4; ++type) {
      const auto& ids = ivo::kCertificateTypeIds[type - 1];
      std::printf("%-8s server %-9s client %s\n", TypeKeyword(type),
                  locked.count(ids.serverSetting) ? "locked" : "unlocked",
                  locked.count(ids.clientSetting) ? "locked" : "unlocked");
    }
    return kExitOk;
  }
  const ivo::CertificateType type = ParseType(invocation.Argument(1, "TYPE"));
  if (type < 1 || type > 4) throw Failure(kExitUsage, "policy needs a type from 1 to 4");
  const std::string& kind = invocation.Argument(2, "server|client");
  if (kind != "server" && kind != "client") throw Failure(kExitUsage, "the kind is server or client");
  Session session(invocation.options, true);
  const auto& ids = ivo::kCertificateTypeIds[type - 1];
  const result_t result =
      session.store().SetSettingLocked(kind == "server" ? ids.serverSetting : ids.clientSetting, action == "lock");
  if (ozo::Failed(result))
    throw Failure(kExitStore, "the store cannot be used: cannot change the policy: " + session.StoreFailure(), result);
  session.Commit();
  Announce(invocation, kind + " certificates of " + TypeKeyword(type) + " are " + action + "ed for local changes");
  return kExitOk;
}

// The old store's records are copied into this one. A type and kind that both
// hold takes the old store's record: the upgrade carries the previous
// installation's certificates over, and says which slots it replaced.
int Upgrade(const Invocation& invocation) {
  const std::string from = invocation.Value("--from");
  if (from.empty()) throw Failure(kExitUsage, "upgrade needs --from OLD.db");
  ozo::ref_ptr<host::SqliteStore> old;
  std::string error;
  const result_t opened = host::SqliteStore::Open(from, host::SqliteStore::Mode::ReadOnly, old, error);
  if (ozo::Failed(opened)) throw Failure(kExitStore, "the old store cannot be used: " + error, opened);
  Session session(invocation.options, true);
  const Slots incoming = StoredSlots(*old, from);
  const Slots present = StoredSlots(session.store(), "the store");
  ozo::ref_ptr<app_core::facade::upgrade::IPersistentDataUpgrader> upgrader;
  const result_t created = session.component().Create(
      app_core::facade::upgrade::ClsIdCertificatesManagerPersistentDataUpgrader, session.host(), upgrader);
  if (ozo::Failed(created))
    throw Failure(kExitFailed, "cannot create the upgrader: " + DescribeResult(created), created);
  const result_t result = upgrader->Upgrade(old.get(), &session.store());
  upgrader.Reset();
  if (const std::string failure = old->FirstFailure(); !failure.empty())
    throw Failure(kExitStore, "the old store cannot be used: " + failure, result);
  const Outcome outcome = Report(session, result, "", "the old store has no certificates");
  session.Commit();
  if (outcome.status != kExitOk) {
    Announce(invocation, outcome.message);
    return outcome.status;
  }
  Json json = {{"from", from}, {"copied", Json::array()}, {"replaced", Json::array()}};
  for (const std::string& slot : incoming) {
    const bool replaced = Holds(present, slot);
    json[replaced ? "replaced" : "copied"].push_back(slot);
    Announce(invocation, slot + " certificate " + (replaced ? "copied, replacing the one stored" : "copied"));
  }
  Announce(invocation, "certificates copied from " + from);
  if (invocation.options.json) PrintJson(json);
  return kExitOk;
}

}  // namespace certctl
