#include "host/storage/sqlite_store.h"

#include <gtest/gtest.h>

#include <fstream>

#include "ivo/certificates_manager.h"
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
  sqlite3_limit(store->db(), SQLITE_LIMIT_LENGTH, 1000);
  ASSERT_EQ(store->BeginWork(), 0);
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

TEST_F(SqliteStoreTest, NotADatabaseAndAMissingDirectoryGiveClearErrors) {
  std::ofstream(m_path) << "this is not a database, just text that is long enough to have a header";
  ref_ptr<host::SqliteStore> store;
  std::string error;
  EXPECT_EQ(host::SqliteStore::Open(m_path, host::SqliteStore::Mode::ReadWrite, store, error), results::BasesCorrupted);
  EXPECT_NE(error.find("not a database"), std::string::npos) << error;
  // Not "File not found": a component would read that as a missing child.
  EXPECT_EQ(host::SqliteStore::Open(m_dir.File("missing/dir/x.db"), host::SqliteStore::Mode::ReadWrite, store, error),
            results::MediaError);
}

}  // namespace
