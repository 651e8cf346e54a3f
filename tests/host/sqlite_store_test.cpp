#include "host/storage/sqlite_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "host/lifecycle/records.h"
#include "ivo/certificates_manager.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace {

using ozo::ref_ptr;
using ozo::types::variant_t;
namespace results = ozo::results;

using test::TempDir;

ref_ptr<host::SqliteStore> Open(const std::string& path,
                                host::SqliteStore::Mode mode = host::SqliteStore::Mode::ReadWrite) {
  ref_ptr<host::SqliteStore> store;
  std::string error;
  EXPECT_EQ(host::SqliteStore::Open(path, mode, store, error), 0) << error;
  return store;
}

ref_ptr<ozo::IStorage> Tree(host::SqliteStore& store, ozo::clsid_t id = ivo::ClsIdCertificatesManager) {
  ref_ptr<ozo::IStorage> tree;
  EXPECT_EQ(store.CreateStorage(id, tree.Ref()), 0);
  return tree;
}

class SqliteStoreTest : public testing::Test {
 protected:
  TempDir m_dir;
  std::string m_path = m_dir.File("store.db");
};

TEST_F(SqliteStoreTest, TreesAndTheirValuesSurviveReopening) {
  {
    auto store = Open(m_path);
    ref_ptr<ozo::IStorage> servers, record;
    ASSERT_EQ(Tree(*store)->AppendNode("ServerCertificates", servers.Ref()), 0);
    ASSERT_EQ(servers->AppendNode("Siem", record.Ref()), 0);
    ASSERT_EQ(record->SetValue("certificate", variant_t::FromBlob(ozo::blob_t("\0\1\2", 3)), nullptr), 0);
  }
  auto store = Open(m_path);
  ref_ptr<ozo::IStorage> tree, servers, record;
  ASSERT_EQ(store->GetStorage(ivo::ClsIdCertificatesManager, tree.Ref()), 0);
  ASSERT_EQ(tree->GetNode("ServerCertificates", servers.Ref()), 0);
  ASSERT_EQ(servers->GetNode("Siem", record.Ref()), 0);
  variant_t value;
  ASSERT_EQ(record->GetValue("certificate", value, nullptr), 0);
  EXPECT_EQ(value.blob(), ozo::blob_t("\0\1\2", 3));
  // A node removed meanwhile can no longer be written.
  ASSERT_EQ(servers->RemoveNode("Siem"), 0);
  EXPECT_EQ(record->SetValue("v", variant_t::FromUInt32(2), nullptr), results::PathNotFound);
}

// A unit in which a statement failed is rolled back, not committed: what the
// host did before the failure is not kept half-done.
TEST_F(SqliteStoreTest, AUnitWithAFailedStatementCannotBeCommitted) {
  auto store = Open(m_path);
  auto tree = Tree(*store);
  ASSERT_EQ(store->BeginWork(), 0);
  sqlite3_limit(store->db(), SQLITE_LIMIT_LENGTH, 1000);  // the unit's own connection
  ref_ptr<ozo::IStorage> kept;
  ASSERT_EQ(tree->AppendNode("kept", kept.Ref()), 0);
  const std::string big(5000, 'x');
  EXPECT_EQ(kept->SetValue("big", variant_t::FromBlob(ozo::blob_t(big.data(), big.size())), nullptr),
            results::FileTooBig);
  EXPECT_EQ(store->CommitWork(), results::FileTooBig);
  ref_ptr<ozo::IStorage> gone;
  EXPECT_EQ(tree->GetNode("kept", gone.Ref()), results::PathNotFound);
}

// Outside a unit each call commits itself; a commit that fails (a reader
// holds the file) fails the call, and nothing of it is kept.
TEST_F(SqliteStoreTest, ACallWhoseCommitFailsReportsTheFailure) {
  auto store = Open(m_path);
  sqlite3* reader = nullptr;
  ASSERT_EQ(sqlite3_open(m_path.c_str(), &reader), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(reader, "BEGIN; SELECT count(*) FROM trees;", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_busy_timeout(store->db(), 0);
  ref_ptr<ozo::IStorage> tree;
  EXPECT_EQ(store->CreateStorage(ivo::ClsIdCertificatesManager, tree.Ref()), results::Locked);
  sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(reader);
  EXPECT_EQ(Open(m_path)->GetStorage(ivo::ClsIdCertificatesManager, tree.Ref()), results::NotFound);
}

TEST_F(SqliteStoreTest, NotADatabaseAMissingDirectoryAndAFolderGiveClearErrors) {
  std::ofstream(m_path) << "this is not a database, just text that is long enough to have a header";
  ref_ptr<host::SqliteStore> store;
  std::string error;
  EXPECT_EQ(host::SqliteStore::Open(m_path, host::SqliteStore::Mode::ReadWrite, store, error), results::BasesCorrupted);
  EXPECT_NE(error.find("not a database"), std::string::npos) << error;
  // Not "File not found": a component would read that as a missing child.
  EXPECT_EQ(host::SqliteStore::Open(m_dir.File("missing/dir/x.db"), host::SqliteStore::Mode::ReadWrite, store, error),
            results::MediaError);
  // A folder where the file belongs: SQLite cannot open it.
  EXPECT_EQ(host::SqliteStore::Open(m_dir.path(), host::SqliteStore::Mode::ReadWrite, store, error),
            results::MediaError);
  EXPECT_NE(error.find("unable to open"), std::string::npos) << error;
}

// Owner-only from the first byte: the file, and the journal SQLite keeps
// beside it during a transaction, whatever the umask.
TEST_F(SqliteStoreTest, AStoreAndItsJournalAreOwnerOnly) {
  const mode_t previous = ::umask(022);
  auto store = Open(m_path);
  ::umask(previous);
  ASSERT_EQ(store->BeginWork(), 0);
  ASSERT_EQ(store->locks().SetLocked(1, true), 0);
  struct stat file {
  }, journal{};
  ASSERT_EQ(::stat(m_path.c_str(), &file), 0);
  ASSERT_EQ(::stat((m_path + "-journal").c_str(), &journal), 0);
  EXPECT_EQ(file.st_mode & 0777, 0600u);
  EXPECT_EQ(journal.st_mode & 0777, 0600u);
  EXPECT_EQ(store->CommitWork(), 0);
}

// The journal keeps the newest events only: 20,000 appends leave 10,000 and
// a file of bounded size, whatever the history.
TEST_F(SqliteStoreTest, TheEventJournalIsBounded) {
  auto store = Open(m_path);
  ivo::CertificateEvent event;
  event.eventType = 155;
  event.time = 1700000000;
  // The component's six fields, with long names.
  const std::pair<std::uint32_t, variant_t> fields[] = {
      {103, variant_t::FromString8(std::string(100, 's').c_str())},
      {104, variant_t::FromString8(std::string(100, 'i').c_str())},
      {134, variant_t::FromString8("0A FF 00 12 34 56 78 9A BC DE F0 11 22 33 44 55 66 77 88 99")},
      {135, variant_t::FromDateTime(132223104000000000)},
      {106, variant_t::FromDateTime(164723328000000000)},
      {145, variant_t::FromString8(std::string(59, 'f').c_str())}};
  for (const auto& [id, data] : fields) {
    ivo::RuntimeField field;
    field.name = id;
    field.data = data;
    event.fields.push_back(field);
  }
  for (int unit = 0; unit < 20; ++unit) {
    ASSERT_EQ(store->BeginWork(), 0);
    for (int i = 0; i < 1000; ++i) {
      event.time += 1;
      ASSERT_EQ(store->journal().Append(event), 0);
    }
    ASSERT_EQ(store->CommitWork(), 0);
  }
  std::vector<host::SqliteJournal::Entry> entries;
  ASSERT_EQ(store->journal().Entries(entries), 0);
  ASSERT_EQ(entries.size(), host::SqliteJournal::kDefaultLimit);
  EXPECT_EQ(entries.back().event.time, 1700020000);  // the newest are kept, with the ids they had
  EXPECT_EQ(entries.front().event.time, 1700010001);
  EXPECT_EQ(entries.front().id, 10001);
  EXPECT_LT(std::filesystem::file_size(m_path), 8u << 20);  // as sqlite_store.h documents
  std::uint64_t removed = 0;
  ASSERT_EQ(store->journal().Prune(std::nullopt, 5, removed), 0);
  EXPECT_EQ(removed, host::SqliteJournal::kDefaultLimit - 5);
  ASSERT_EQ(store->journal().Entries(entries), 0);
  EXPECT_EQ(entries.size(), 5u);
  // The lifetime total counts every append, whatever the bound and pruning
  // dropped.
  std::map<std::uint32_t, std::uint64_t> totals;
  ASSERT_EQ(store->journal().Totals(totals), 0);
  EXPECT_EQ(totals[event.eventType], 20000u);
}

// A writer killed in the middle of a transaction leaves a journal only a
// writer may roll back. A reader reads the last committed state all the
// same, from a private copy, and leaves the store and its journal as they
// were.
TEST_F(SqliteStoreTest, AReaderReadsPastADeadWritersJournalWithoutTouchingIt) {
  {
    auto store = Open(m_path);
    ref_ptr<ozo::IStorage> kept;
    ASSERT_EQ(Tree(*store)->AppendNode("kept", kept.Ref()), 0);
  }
  const pid_t writer = ::fork();
  if (writer == 0) {  // writes more than its cache holds (pages reach the file), then dies
    sqlite3* db = nullptr;
    sqlite3_open(m_path.c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA cache_size=2; BEGIN; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                 "WHERE i < 2000) INSERT INTO nodes(parent, name) SELECT NULL, printf('%0500d', i) FROM n;",
                 nullptr, nullptr, nullptr);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(writer, &status, 0), writer);
  const std::string journal = m_path + "-journal";
  ASSERT_TRUE(std::filesystem::exists(journal));
  const std::string storeBefore = test::ReadWholeFile(m_path), journalBefore = test::ReadWholeFile(journal);

  auto reader = Open(m_path, host::SqliteStore::Mode::ReadOnly);
  ASSERT_TRUE(reader);
  ref_ptr<ozo::IStorage> tree, kept;
  ASSERT_EQ(reader->GetStorage(ivo::ClsIdCertificatesManager, tree.Ref()), 0);
  EXPECT_EQ(tree->GetNode("kept", kept.Ref()), 0);
  std::uint32_t count = 0;
  ASSERT_EQ(tree->GetNodesCount(count), 0);
  EXPECT_EQ(count, 1u);  // none of the dead writer's rows
  reader.Reset();
  EXPECT_EQ(test::ReadWholeFile(m_path), storeBefore);
  EXPECT_EQ(test::ReadWholeFile(journal), journalBefore);
}

// Each field of the lifecycle's rows in its own column, for every type: a
// last attempt is no last success, and the fourth type's settings are read.
TEST_F(SqliteStoreTest, TheLifecycleRowsKeepEachFieldApartForEveryType) {
  for (const ivo::PeerType type : ivo::PeerType::All()) {
    auto store = Open(m_path);
    const std::string n = std::to_string(type);
    host::lifecycle::RenewalState state;
    state.lastAttempt = 100 + type, state.lastSuccess = 200 + type, state.nextAttempt = 300 + type;
    state.failures = type, state.lastError = "error " + n, state.hookError = "hook " + n;
    ASSERT_EQ(store->renewalStates().Put(type, state), 0);
    host::lifecycle::RenewalConfig config{"http://ca" + n, "cr",        "trusted " + n, "peer" + n,
                                          10 + type,       "exec " + n, "sender " + n,  "name " + n};
    ASSERT_EQ(store->renewalConfigs().Put(type, config), 0);
  }
  auto store = Open(m_path, host::SqliteStore::Mode::ReadOnly);
  std::map<ivo::PeerType, host::lifecycle::RenewalConfig> configs;
  ASSERT_EQ(store->renewalConfigs().All(configs), 0);
  ASSERT_EQ(configs.size(), 4u);
  for (const ivo::PeerType type : ivo::PeerType::All()) {
    const std::string n = std::to_string(type);
    const host::lifecycle::RenewalConfig& config = configs[type];
    EXPECT_EQ((std::vector<std::string>{config.server, config.command, config.trusted, config.trialPeer, config.hook,
                                        config.sender, config.trialServername}),
              (std::vector<std::string>{"http://ca" + n, "cr", "trusted " + n, "peer" + n, "exec " + n, "sender " + n,
                                        "name " + n}));
    EXPECT_EQ(config.beforeDays, 10 + type);
    host::lifecycle::RenewalState state;
    ASSERT_EQ(store->renewalStates().Get(type, state), 0);
    EXPECT_EQ(state.lastAttempt, 100 + type);
    EXPECT_EQ(state.lastSuccess, 200 + type);
    EXPECT_EQ(state.nextAttempt, 300 + type);
    EXPECT_EQ(state.failures, type);
    EXPECT_EQ(state.lastError, "error " + n);
    EXPECT_EQ(state.hookError, "hook " + n);
  }
}

}  // namespace
