// The storage contract every store of the reference host keeps, checked on
// each of them: the two-call name protocol, missing-child codes, unique names
// opened on append, values replaced in place, trees per class id.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "host/storage/memory_storage.h"
#include "host/storage/sqlite_store.h"
#include "ivo/certificates_manager.h"
#include "tests/support/temp_dir.h"

namespace {

using ozo::ref_ptr;
using ozo::types::variant_t;
namespace results = ozo::results;

struct StoreKind {
  const char* name;
  std::function<ref_ptr<ozo::IPersistentStorage>()> open;
};

// A fresh database per test, in a folder removed when the tests end (SQLite
// refuses to write a database whose file was unlinked while open).
ref_ptr<ozo::IPersistentStorage> OpenSqlite() {
  static test::TempDir dir;
  static int opened = 0;
  ref_ptr<host::SqliteStore> store;
  std::string error;
  EXPECT_EQ(host::SqliteStore::Open(dir.File(std::to_string(++opened) + ".db"), host::SqliteStore::Mode::ReadWrite,
                                    store, error),
            0)
      << error;
  return ref_ptr<ozo::IPersistentStorage>(store);
}

class StorageContractTest : public testing::TestWithParam<StoreKind> {
 protected:
  StorageContractTest() : m_store(GetParam().open()) {
    EXPECT_EQ(m_store->CreateStorage(ivo::ClsIdCertificatesManager, m_root.Ref()), 0);
  }

  ref_ptr<ozo::IPersistentStorage> m_store;
  ref_ptr<ozo::IStorage> m_root;
};

TEST_P(StorageContractTest, NamesFollowTheTwoCallProtocol) {
  ref_ptr<ozo::IStorage> child;
  ASSERT_EQ(m_root->AppendNode("ServerCertificates", child.Ref()), 0);
  std::uint32_t size = 0;
  EXPECT_EQ(child->GetName(nullptr, size), results::BufferTooSmall);
  EXPECT_EQ(size, 19u);  // terminator included
  char buffer[19];
  std::uint32_t small = 5;
  EXPECT_EQ(child->GetName(buffer, small), results::BufferTooSmall);
  EXPECT_EQ(small, 19u);
  EXPECT_EQ(child->GetName(buffer, size), 0);
  EXPECT_EQ(size, 18u);
  EXPECT_STREQ(buffer, "ServerCertificates");
  size = sizeof(buffer);
  ASSERT_EQ(m_root->GetNodeName(0, buffer, size), 0);
  EXPECT_STREQ(buffer, "ServerCertificates");
}

TEST_P(StorageContractTest, MissingChildrenAndValuesHaveTheirCodes) {
  ref_ptr<ozo::IStorage> child;
  EXPECT_EQ(m_root->GetNode("absent", child.Ref()), results::PathNotFound);
  EXPECT_EQ(m_root->RemoveNode("absent"), results::PathNotFound);
  variant_t value;
  EXPECT_EQ(m_root->GetValue("absent", value, nullptr), results::NotFound);
  EXPECT_EQ(m_root->GetNode(3u, child.Ref()), results::OutOfRange);
}

// A copy into a tree adds to what it holds: appending an existing name opens
// that child with what it holds.
TEST_P(StorageContractTest, AppendOpensAChildOfTheSameNameWithItsValues) {
  ref_ptr<ozo::IStorage> first, second;
  ASSERT_EQ(m_root->AppendNode("Siem", first.Ref()), 0);
  ASSERT_EQ(first->SetValue("v", variant_t::FromUInt32(1), nullptr), 0);
  ASSERT_EQ(m_root->AppendNode("Siem", second.Ref()), 0);
  std::uint32_t count = 0;
  ASSERT_EQ(m_root->GetNodesCount(count), 0);
  EXPECT_EQ(count, 1u);
  variant_t value;
  ASSERT_EQ(second->GetValue("v", value, nullptr), 0);
  EXPECT_EQ(value, variant_t::FromUInt32(1));
}

TEST_P(StorageContractTest, ValuesOfEveryKindAreReplacedInPlace) {
  const variant_t values[] = {variant_t::FromUInt32(1),
                              variant_t::FromString8("text"),
                              variant_t::FromString16(u"\u03B1\u03B2"),
                              variant_t::FromBlob(ozo::blob_t("\0\1\2", 3)),
                              variant_t::FromDateTime(133000000000000000ull),
                              variant_t::FromInt64(-5)};
  for (std::size_t i = 0; i < std::size(values); ++i)
    ASSERT_EQ(m_root->SetValue(("v" + std::to_string(i)).c_str(), values[i], nullptr), 0);
  ASSERT_EQ(m_root->SetValue("v0", variant_t::FromUInt32(2), nullptr), 0);
  std::uint32_t count = 0;
  ASSERT_EQ(m_root->GetValuesCount(count), 0);
  EXPECT_EQ(count, std::size(values));
  variant_t value;
  ASSERT_EQ(m_root->GetValue(0u, value, nullptr), 0);
  EXPECT_EQ(value, variant_t::FromUInt32(2));
  for (std::size_t i = 1; i < std::size(values); ++i) {
    ASSERT_EQ(m_root->GetValue(static_cast<std::uint32_t>(i), value, nullptr), 0);
    EXPECT_EQ(value, values[i]) << i;
  }
}

TEST_P(StorageContractTest, StoresHandOutTreesByClassId) {
  ref_ptr<ozo::IStorage> tree;
  ASSERT_EQ(m_store->GetStorage(ivo::ClsIdCertificatesManager, tree.Ref()), 0);
  ref_ptr<ozo::IStorage> child, seen;
  ASSERT_EQ(m_root->AppendNode("a", child.Ref()), 0);
  EXPECT_EQ(tree->GetNode("a", seen.Ref()), 0);  // the same tree
  EXPECT_EQ(m_store->GetStorage(0x1234, tree.Ref()), results::NotFound);
}

INSTANTIATE_TEST_SUITE_P(Stores, StorageContractTest,
                         testing::Values(StoreKind{"Memory",
                                                   [] {
                                                     return ref_ptr<ozo::IPersistentStorage>(
                                                         host::Make<host::MemoryPersistentStorage>());
                                                   }},
                                         StoreKind{"Sqlite", OpenSqlite}),
                         [](const testing::TestParamInfo<StoreKind>& info) { return info.param.name; });

}  // namespace
