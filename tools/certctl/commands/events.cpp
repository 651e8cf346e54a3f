// events and events prune: the store's journal.
#include <cstdio>
#include <iostream>

#include "host/storage/journal_records.h"
#include "ivo/certificate_type_table.h"
#include "ozo/utf.h"
#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/dates.h"
#include "tools/certctl/lib/output.h"
#include "tools/certctl/lib/terminal_text.h"
#include "tools/certctl/lib/unicode.h"

namespace certctl::commands {
namespace {

using ozo::result_t;

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

struct ListArguments {
  std::optional<Date> since;
  std::optional<Count> tail;
};

int ListEvents(const GlobalOptions& global, const ListArguments& arguments) {
  Session session(global, Access::Read);
  std::vector<host::SqliteJournal::Entry> entries;
  const result_t read = session.store().journal().Entries(entries);
  if (ozo::Failed(read))
    throw Failure(kExitStore, "the store cannot be used: cannot read the events: " + session.StoreFailure(), read);
  std::size_t first = 0;
  if (arguments.since)
    while (first < entries.size() && entries[first].event.time < arguments.since->seconds) ++first;
  if (arguments.tail && entries.size() - first > arguments.tail->value)
    first = entries.size() - static_cast<std::size_t>(arguments.tail->value);
  Json json = Json::array();
  for (std::size_t i = first; i < entries.size(); ++i) {
    const ivo::CertificateEvent& e = entries[i].event;
    const bool operation = e.eventType == host::kOperationRecord;
    if (global.json) {
      Json fields = Json::object();
      for (const ivo::RuntimeField& field : e.fields) fields[FieldName(field.name)] = FieldText(field);
      json.push_back({{"id", entries[i].id},
                      {"kind", operation ? "operation" : "component"},
                      {"event", EventName(e.eventType)},
                      {"eventCode", e.eventType},
                      {"severity", e.severity},
                      {"initiator", InitiatorText(e.initiator)},
                      {"time", IsoFromSeconds(e.time)},
                      {"fields", std::move(fields)}});
      continue;
    }
    // An operation of the host or tool shows its operation in place of an
    // event type: no component event has that name.
    const std::string what = operation ? "operation " + FieldText(e.fields[0])
                                       : EventName(e.eventType) + " (" + std::to_string(e.eventType) + ")";
    std::printf("%lld  %s  %s  by %s\n", static_cast<long long>(entries[i].id), IsoFromSeconds(e.time).c_str(),
                Printable(what).c_str(), Printable(InitiatorText(e.initiator)).c_str());
    for (std::size_t f = operation ? 1 : 0; f < e.fields.size(); ++f)
      std::printf("     %-15s %s\n", FieldName(e.fields[f].name).c_str(), Printable(FieldText(e.fields[f])).c_str());
  }
  if (global.json)
    PrintJson(json);
  else if (first == entries.size())
    std::cout << "no events\n";
  return kExitOk;
}

struct PruneArguments {
  std::optional<Count> keep;
  std::optional<Date> before;
};

// The oldest events go, by date, by count, or both.
int Prune(const GlobalOptions& global, const PruneArguments& arguments) {
  if (!arguments.before && !arguments.keep)
    throw Failure(kExitUsage, "events prune needs --keep N, --before DATE or both");
  Session session(global, Access::Write);
  std::uint64_t removed = 0;
  const result_t pruned = session.store().journal().Prune(
      arguments.before ? std::optional<std::int64_t>(arguments.before->seconds) : std::nullopt,
      arguments.keep ? std::optional<std::uint64_t>(arguments.keep->value) : std::nullopt, removed);
  if (ozo::Failed(pruned))
    throw Failure(kExitStore, "the store cannot be used: cannot prune the events: " + session.StoreFailure(), pruned);
  session.Commit();
  Announce(global, std::to_string(removed) + (removed == 1 ? " event" : " events") + " removed",
           {{"removed", removed}});
  return removed ? kExitOk : kExitFalse;
}

}  // namespace

Command Events() {
  return Define<ListArguments>(
      "events", "the journal's events, oldest first", {},
      {Option(&ListArguments::since, "--since", "DATE",
              "only those since DATE (2020-01-31, 2020-01-31 12:00:00+01:00, or an age: 7d, 12h)"),
       Option(&ListArguments::tail, "--tail", "N", "only the newest N")},
      ListEvents);
}

Command PruneEvents() {
  return Define<PruneArguments>("events prune", "remove the oldest events", {},
                                {Option(&PruneArguments::keep, "--keep", "N", "all but the newest N"),
                                 Option(&PruneArguments::before, "--before", "DATE", "those older than DATE")},
                                Prune);
}

}  // namespace certctl::commands
