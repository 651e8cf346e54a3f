#include "host/storage/memory_storage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using ozo::ref_ptr;
using ozo::types::variant_t;

class MemoryStorageTest : public testing::Test {
 protected:
  MemoryStorageTest() { EXPECT_EQ(m_store->CreateStorage(0x27F2BC0F, m_root.Ref()), 0); }

  std::shared_ptr<host::FaultInjector> m_faults = std::make_shared<host::FaultInjector>();
  ref_ptr<host::MemoryPersistentStorage> m_store = host::Make<host::MemoryPersistentStorage>(m_faults);
  ref_ptr<ozo::IStorage> m_root;
};

TEST(MemoryStorage, AppendAddsASecondChildOfTheSameNameWhenAskedAndRemoveTakesTheFirst) {
  auto store =
      host::Make<host::MemoryPersistentStorage>(std::make_shared<host::FaultInjector>(), host::DuplicateNames::Append);
  ref_ptr<ozo::IStorage> root;
  ASSERT_EQ(store->CreateStorage(1, root.Ref()), 0);
  ref_ptr<ozo::IStorage> first, second, got;
  ASSERT_EQ(root->AppendNode("Siem", first.Ref()), 0);
  ASSERT_EQ(root->AppendNode("Siem", second.Ref()), 0);
  std::uint32_t count = 0;
  ASSERT_EQ(root->GetNodesCount(count), 0);
  EXPECT_EQ(count, 2u);
  ASSERT_EQ(root->GetNode("Siem", got.Ref()), 0);
  EXPECT_EQ(got.get(), first.get());
  ASSERT_EQ(root->RemoveNode("Siem"), 0);
  ASSERT_EQ(root->GetNode("Siem", got.Ref()), 0);
  EXPECT_EQ(got.get(), second.get());
  // The removed node stays usable by its holder.
  EXPECT_EQ(first->SetValue("v", variant_t::FromUInt32(1), nullptr), 0);
}

TEST_F(MemoryStorageTest, FaultsFailTheNamedOperationOnly) {
  m_faults->FailOperation("IStorage::AppendNode", ozo::results::OutOfSpace, 1, 1);
  ref_ptr<ozo::IStorage> child;
  EXPECT_EQ(m_root->AppendNode("a", child.Ref()), 0);
  EXPECT_EQ(m_root->AppendNode("b", child.Ref()), ozo::results::OutOfSpace);
  EXPECT_EQ(m_root->AppendNode("c", child.Ref()), 0);
  EXPECT_EQ(m_root->Flush(), 0);
  EXPECT_EQ(m_store->flushes(), 1u);
}

}  // namespace
