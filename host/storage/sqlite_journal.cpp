#include "host/storage/sqlite_journal.h"

#include "host/storage/sqlite_statement.h"

namespace host {

using ozo::result_t;
using sqlite::Statement;
namespace results = ozo::results;

result_t SqliteLocks::Locked(std::set<std::uint32_t>& locked) {
  std::lock_guard<std::recursive_mutex> lock(mutex());
  std::set<std::uint32_t> read;
  Statement statement(db(), "SELECT setting_id FROM locked_settings");
  int step;
  while ((step = statement.Step()) == SQLITE_ROW) read.insert(static_cast<std::uint32_t>(statement.Int(0)));
  if (step != SQLITE_DONE) return Fail(step);
  locked.swap(read);
  return results::NoError;
}

result_t SqliteLocks::IsLocked(std::uint32_t settingId, bool& locked) {
  std::lock_guard<std::recursive_mutex> lock(mutex());
  Statement statement(db(), "SELECT 1 FROM locked_settings WHERE setting_id = ?");
  const int step = statement.Bind(1, settingId).Step();
  if (step != SQLITE_ROW && step != SQLITE_DONE) return Fail(step);
  locked = step == SQLITE_ROW;
  return results::NoError;
}

result_t SqliteLocks::SetLocked(std::uint32_t settingId, bool locked) {
  return Atomically([&]() -> result_t {
    Statement statement(db(), locked ? "INSERT OR IGNORE INTO locked_settings(setting_id) VALUES(?)"
                                     : "DELETE FROM locked_settings WHERE setting_id = ?");
    const int step = statement.Bind(1, settingId).Step();
    return step == SQLITE_DONE ? results::NoError : Fail(step);
  });
}

result_t SqliteJournal::Append(const ivo::CertificateEvent& event) {
  return Atomically([&]() -> result_t {
    Statement insert(db(),
                     "INSERT INTO events(event_type, severity, initiator_kind, initiator_id, initiator_name, time) "
                     "VALUES(?, ?, ?, ?, ?, ?)");
    insert.Bind(1, event.eventType).Bind(2, event.severity).Bind(3, event.initiator.kind).Bind(6, event.time);
    if (event.initiator.details) {
      insert.Bind(4, event.initiator.details->id)
          .BindBlob(5, event.initiator.details->name.data(), event.initiator.details->name.size() * sizeof(char16_t));
    } else {
      insert.BindNull(4).BindNull(5);
    }
    if (insert.Step() != SQLITE_DONE) return Fail(insert.code());
    const std::int64_t id = sqlite3_last_insert_rowid(db());
    for (std::size_t i = 0; i < event.fields.size(); ++i) {
      Statement field(
          db(), "INSERT INTO event_fields(event, position, field_id, tag, scalar, data) VALUES(?, ?, ?, ?, ?, ?)");
      field.Bind(1, id).Bind(2, static_cast<std::int64_t>(i)).Bind(3, event.fields[i].name);
      sqlite::BindVariant(field, 4, event.fields[i].data);
      if (field.Step() != SQLITE_DONE) return Fail(field.code());
    }
    Statement total(db(),
                    "INSERT INTO event_totals(event_type, total) VALUES(?, 1) "
                    "ON CONFLICT(event_type) DO UPDATE SET total = total + 1");
    if (total.Bind(1, event.eventType).Step() != SQLITE_DONE) return Fail(total.code());
    if (m_limit == 0 || static_cast<std::uint64_t>(id) <= m_limit) return results::NoError;
    // Ids only grow, so the newest m_limit events have ids above this
    // one: at most the limit remains, and one append drops about one event.
    Statement oldest(db(), "DELETE FROM events WHERE id <= ?");
    if (oldest.Bind(1, id - static_cast<std::int64_t>(m_limit)).Step() != SQLITE_DONE) return Fail(oldest.code());
    return results::NoError;
  });
}

void SqliteJournal::SetLimit(std::uint64_t limit) {
  std::lock_guard<std::recursive_mutex> lock(mutex());
  m_limit = limit;
}

result_t SqliteJournal::Prune(std::optional<std::int64_t> before, std::optional<std::uint64_t> keep,
                              std::uint64_t& removed) {
  std::uint64_t count = 0;
  const result_t result = Atomically([&]() -> result_t {
    if (before) {
      Statement older(db(), "DELETE FROM events WHERE time < ?");
      if (older.Bind(1, *before).Step() != SQLITE_DONE) return Fail(older.code());
      count += static_cast<std::uint64_t>(sqlite3_changes(db()));
    }
    if (keep) {
      Statement surplus(db(), "DELETE FROM events WHERE id NOT IN (SELECT id FROM events ORDER BY id DESC LIMIT ?)");
      if (surplus.Bind(1, static_cast<std::int64_t>(*keep)).Step() != SQLITE_DONE) return Fail(surplus.code());
      count += static_cast<std::uint64_t>(sqlite3_changes(db()));
    }
    return results::NoError;
  });
  if (ozo::Succeeded(result)) removed = count;
  return result;
}

result_t SqliteJournal::Totals(std::map<std::uint32_t, std::uint64_t>& totals) {
  std::lock_guard<std::recursive_mutex> lock(mutex());
  // A store of an older schema, read as it is, counts its journal instead.
  Statement present(db(), "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'event_totals'");
  const int found = present.Step();
  if (found != SQLITE_ROW && found != SQLITE_DONE) return Fail(found);
  Statement rows(db(), found == SQLITE_ROW ? "SELECT event_type, total FROM event_totals"
                                           : "SELECT event_type, count(*) FROM events GROUP BY event_type");
  std::map<std::uint32_t, std::uint64_t> read;
  int step;
  while ((step = rows.Step()) == SQLITE_ROW)
    read[static_cast<std::uint32_t>(rows.Int(0))] = static_cast<std::uint64_t>(rows.Int(1));
  if (step != SQLITE_DONE) return Fail(step);
  totals.swap(read);
  return results::NoError;
}

result_t SqliteJournal::Entries(std::vector<Entry>& entries) {
  std::lock_guard<std::recursive_mutex> lock(mutex());
  std::vector<Entry> read;
  Statement rows(db(),
                 "SELECT id, event_type, severity, initiator_kind, initiator_id, initiator_name, time FROM events "
                 "ORDER BY id");
  int step;
  while ((step = rows.Step()) == SQLITE_ROW) {
    Entry& entry = read.emplace_back();
    entry.id = rows.Int(0);
    ivo::CertificateEvent& event = entry.event;
    event.eventType = static_cast<std::uint32_t>(rows.Int(1));
    event.severity = static_cast<std::uint32_t>(rows.Int(2));
    event.initiator.kind = static_cast<std::uint32_t>(rows.Int(3));
    if (!rows.IsNull(4)) {
      event.initiator.details.emplace();
      event.initiator.details->id = static_cast<std::uint32_t>(rows.Int(4));
      event.initiator.details->name =
          ozo::string16_t(static_cast<const char16_t*>(rows.Blob(5)), rows.Bytes(5) / sizeof(char16_t));
    }
    event.time = rows.Int(6);
    Statement fields(db(), "SELECT field_id, tag, scalar, data FROM event_fields WHERE event = ? ORDER BY position");
    fields.Bind(1, rows.Int(0));
    int fieldStep;
    while ((fieldStep = fields.Step()) == SQLITE_ROW) {
      ivo::RuntimeField field;
      field.name = static_cast<std::uint32_t>(fields.Int(0));
      field.data = sqlite::ReadVariant(fields, 1);
      event.fields.push_back(std::move(field));
    }
    if (fieldStep != SQLITE_DONE) return Fail(fieldStep);
  }
  if (step != SQLITE_DONE) return Fail(step);
  entries.swap(read);
  return results::NoError;
}

}  // namespace host
