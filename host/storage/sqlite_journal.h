// The reference host's journal in the SQLite store: the settings the policy
// locks and the events the component published, with the host's operation
// records (journal_records.h). They live in the same database as the trees,
// so a unit of work covers a change and its events.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

#include "host/storage/sqlite_table.h"
#include "ivo/events.h"

namespace host {

class SqliteLocks : public SqliteTable {
 public:
  explicit SqliteLocks(SqliteStore& store) : SqliteTable(store) {}
  // The settings the policy locks against local change.
  ozo::result_t Locked(std::set<std::uint32_t>& locked);
  ozo::result_t IsLocked(std::uint32_t settingId, bool& locked);
  ozo::result_t SetLocked(std::uint32_t settingId, bool locked);
};

// Oldest first, each entry with its id: ids only grow and are never reused,
// so an entry keeps its id across pruning. The journal is bounded: an
// append that takes it past the limit (kDefaultLimit unless set; 0: no
// limit) drops the oldest entries in the same statement, so a store's size
// stays bounded under any history: 10,000 events with the component's six
// fields (names of 100 characters) take under 6 MiB, and less than 8 MiB
// whatever their history. Each append also counts its type in the lifetime
// totals, which pruning, the bound and a restore never lower.
class SqliteJournal : public SqliteTable {
 public:
  static constexpr std::uint64_t kDefaultLimit = 10000;
  struct Entry {
    std::int64_t id = 0;
    ivo::CertificateEvent event;
  };

  explicit SqliteJournal(SqliteStore& store) : SqliteTable(store) {}
  void SetLimit(std::uint64_t limit);
  ozo::result_t Append(const ivo::CertificateEvent& event);
  ozo::result_t Entries(std::vector<Entry>& entries);
  // How many entries of each type the store has ever journalled.
  ozo::result_t Totals(std::map<std::uint32_t, std::uint64_t>& totals);
  // Removes events older than `before` (seconds since 1970) when given, then
  // all but the newest `keep` when given; `removed` counts them.
  ozo::result_t Prune(std::optional<std::int64_t> before, std::optional<std::uint64_t> keep, std::uint64_t& removed);

 private:
  std::uint64_t m_limit = kDefaultLimit;
};

}  // namespace host
