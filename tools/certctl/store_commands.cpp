// The commands that work on the store's journal and the policy's locks.
#include <cstdio>
#include <iostream>

#include "ivo/certificate_type_table.h"
#include "ozo/text/utf.h"
#include "tools/certctl/command_support.h"
#include "tools/certctl/errors.h"
#include "tools/certctl/output.h"
#include "tools/certctl/terminal_text.h"

namespace certctl {

using ozo::result_t;
namespace results = ozo::results;

namespace {

std::string InitiatorText(const ivo::ChangeInitiator& initiator) {
  static const char* kKinds[] = {"policy", "user", "product", "scheduler"};
  std::string text = initiator.kind < 4 ? kKinds[initiator.kind] : "kind " + std::to_string(initiator.kind);
  if (initiator.details) {
    text += " " + ozo::text::Utf16ToUtf8(initiator.details->name.view()) + " (" +
            std::to_string(initiator.details->id) + ")";
  }
  return text;
}

// A field as a person reads it: dates in ISO-8601, names in UTF-8.
std::string FieldText(const ivo::RuntimeField& field) {
  if (field.data.tag() == ozo::types::VariantTag::DateTime) return IsoFromIntervals(field.data.datetime());
  const std::string text(field.data.string8().view());
  return field.name == ivo::event_field::Subject || field.name == ivo::event_field::Issuer ? Utf8Name(text) : text;
}

std::optional<std::int64_t> DateOption(const Invocation& invocation, const std::string& option) {
  const std::string text = invocation.Value(option);
  if (text.empty()) return std::nullopt;
  const std::optional<std::int64_t> seconds = SecondsFromIso(text);
  if (!seconds) throw Failure(kExitUsage, option + " takes a date, such as 2020-01-31 or 2020-01-31T12:00:00Z");
  return seconds;
}

std::optional<std::uint64_t> CountOption(const Invocation& invocation, const std::string& option) {
  const std::string text = invocation.Value(option);
  if (text.empty()) return std::nullopt;
  if (text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
    throw Failure(kExitUsage, option + " takes a number of events");
  return std::stoull(text);
}

}  // namespace

// events prune: the oldest events go, by date, by count, or both.
int PruneEvents(const Invocation& invocation) {
  const std::optional<std::int64_t> before = DateOption(invocation, "--before");
  const std::optional<std::uint64_t> keep = CountOption(invocation, "--keep");
  if (!before && !keep) throw Failure(kExitUsage, "events prune needs --keep N, --before DATE or both");
  Session session(invocation.options, Access::Write);
  std::uint64_t removed = 0;
  const result_t pruned = session.store().PruneEvents(before, keep, removed);
  if (ozo::Failed(pruned))
    throw Failure(kExitStore, "the store cannot be used: cannot prune the events: " + session.StoreFailure(), pruned);
  session.Commit();
  Announce(invocation, std::to_string(removed) + (removed == 1 ? " event" : " events") + " removed");
  if (invocation.options.json) PrintJson({{"removed", removed}});
  return removed ? kExitOk : kExitFalse;
}

int Events(const Invocation& invocation) {
  const std::optional<std::int64_t> since = DateOption(invocation, "--since");
  const std::optional<std::uint64_t> tail = CountOption(invocation, "--tail");
  Session session(invocation.options, Access::Read);
  std::vector<ivo::CertificateEvent> events;
  const result_t read = session.store().Events(events);
  if (ozo::Failed(read))
    throw Failure(kExitStore, "the store cannot be used: cannot read the events: " + session.StoreFailure(), read);
  std::size_t first = 0;  // numbers stay those of the whole journal
  if (since)
    while (first < events.size() && events[first].time < *since) ++first;
  if (tail && events.size() - first > *tail) first = events.size() - static_cast<std::size_t>(*tail);
  if (invocation.options.json) {
    Json json = Json::array();
    for (std::size_t i = first; i < events.size(); ++i) {
      const ivo::CertificateEvent& e = events[i];
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
  for (std::size_t i = first; i < events.size(); ++i) {
    const auto& e = events[i];
    std::printf("%zu  %s  %s (%u)  by %s\n", i + 1, IsoFromSeconds(e.time).c_str(), EventName(e.eventType).c_str(),
                e.eventType, Printable(InitiatorText(e.initiator)).c_str());
    for (const ivo::RuntimeField& field : e.fields)
      std::printf("     %-15s %s\n", FieldName(field.name).c_str(), Printable(FieldText(field)).c_str());
  }
  if (first == events.size()) std::cout << "no events\n";
  return kExitOk;
}

int PolicyShow(const Invocation& invocation) {
  Session session(invocation.options, Access::Read);
  std::set<std::uint32_t> locked;
  const result_t read = session.store().LockedSettings(locked);
  if (ozo::Failed(read))
    throw Failure(kExitStore, "the store cannot be used: cannot read the locks: " + session.StoreFailure(), read);
  Json json = Json::array();
  for (ivo::CertificateType type = 1; type <= 4; ++type) {
    const auto& ids = ivo::kCertificateTypeIds[type - 1];
    const bool server = locked.count(ids.serverSetting) != 0, client = locked.count(ids.clientSetting) != 0;
    if (invocation.options.json)
      json.push_back({{"type", TypeKeyword(type)},
                      {"server", server ? "locked" : "unlocked"},
                      {"client", client ? "locked" : "unlocked"}});
    else
      std::printf("%-8s server %-9s client %s\n", TypeKeyword(type), server ? "locked" : "unlocked",
                  client ? "locked" : "unlocked");
  }
  if (invocation.options.json) PrintJson(json);
  return kExitOk;
}

int PolicyLock(const Invocation& invocation, bool lock) {
  const ivo::CertificateType type = ParseType(invocation.Argument(0));
  const bool client = ParseKind(invocation.Argument(1));
  Session session(invocation.options, Access::Write);
  const auto& ids = ivo::kCertificateTypeIds[type - 1];
  const result_t result = session.store().SetSettingLocked(client ? ids.clientSetting : ids.serverSetting, lock);
  if (ozo::Failed(result))
    throw Failure(kExitStore, "the store cannot be used: cannot change the policy: " + session.StoreFailure(), result);
  session.Commit();
  Announce(invocation, std::string(client ? "client" : "server") + " certificates of " + TypeKeyword(type) + " are " +
                           (lock ? "locked" : "unlocked") + " for local changes");
  return kExitOk;
}

}  // namespace certctl
