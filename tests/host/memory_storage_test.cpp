#include "host/memory_storage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using ozo::ref_ptr;
using ozo::types::variant_t;

class MemoryStorageTest : public testing::Test {
 protected:
  MemoryStorageTest() { EXPECT_EQ(m_store->CreateStorage(0x27F2BC0F, m_root.Ref()), 0); }

  // A name through the two-call protocol.
  static std::string NameOf(ozo::IStorage* node, std::uint32_t index) {
    std::uint32_t size = 0;
    EXPECT_EQ(node->GetNodeName(index, nullptr, size), ozo::results::BufferTooSmall);
    std::string name(size, '\0');
    EXPECT_EQ(node->GetNodeName(index, name.data(), size), 0);
    name.resize(size);
    return name;
  }

  std::shared_ptr<host::FaultInjector> m_faults = std::make_shared<host::FaultInjector>();
  ref_ptr<host::MemoryPersistentStorage> m_store = host::Make<host::MemoryPersistentStorage>(m_faults);
  ref_ptr<ozo::IStorage> m_root;
};

TEST_F(MemoryStorageTest, NamesFollowTheTwoCallProtocol) {
  ref_ptr<ozo::IStorage> child;
  ASSERT_EQ(m_root->AppendNode("ServerCertificates", child.Ref()), 0);
  std::uint32_t size = 0;
  EXPECT_EQ(child->GetName(nullptr, size), ozo::results::BufferTooSmall);
  EXPECT_EQ(size, 19u);  // terminator included
  char buffer[19];
  std::uint32_t small = 5;
  EXPECT_EQ(child->GetName(buffer, small), ozo::results::BufferTooSmall);
  EXPECT_EQ(small, 19u);
  EXPECT_EQ(child->GetName(buffer, size), 0);
  EXPECT_EQ(size, 18u);
  EXPECT_STREQ(buffer, "ServerCertificates");
  EXPECT_EQ(NameOf(m_root.get(), 0), "ServerCertificates");
}

TEST_F(MemoryStorageTest, MissingChildrenAndValuesHaveTheirCodes) {
  ref_ptr<ozo::IStorage> child;
  EXPECT_EQ(m_root->GetNode("absent", child.Ref()), ozo::results::PathNotFound);
  EXPECT_EQ(m_root->RemoveNode("absent"), ozo::results::PathNotFound);
  variant_t value;
  EXPECT_EQ(m_root->GetValue("absent", value, nullptr), ozo::results::NotFound);
  EXPECT_EQ(m_root->GetNode(3u, child.Ref()), ozo::results::OutOfRange);
}

TEST_F(MemoryStorageTest, AppendReplacesAChildOfTheSameNameByDefault) {
  ref_ptr<ozo::IStorage> first, second, got;
  ASSERT_EQ(m_root->AppendNode("Siem", first.Ref()), 0);
  ASSERT_EQ(m_root->AppendNode("Siem", second.Ref()), 0);
  std::uint32_t count = 0;
  ASSERT_EQ(m_root->GetNodesCount(count), 0);
  EXPECT_EQ(count, 1u);
  ASSERT_EQ(m_root->GetNode("Siem", got.Ref()), 0);
  EXPECT_EQ(got.get(), second.get());
}

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

TEST_F(MemoryStorageTest, ValuesAreReplacedByNameAndKeepTheirOrder) {
  ASSERT_EQ(m_root->SetValue("a", variant_t::FromUInt32(1), nullptr), 0);
  ASSERT_EQ(m_root->SetValue("b", variant_t::FromString8("text"), nullptr), 0);
  ASSERT_EQ(m_root->SetValue("a", variant_t::FromUInt32(2), nullptr), 0);
  std::uint32_t count = 0;
  ASSERT_EQ(m_root->GetValuesCount(count), 0);
  EXPECT_EQ(count, 2u);
  variant_t value;
  ASSERT_EQ(m_root->GetValue(0u, value, nullptr), 0);
  EXPECT_EQ(value, variant_t::FromUInt32(2));
  ASSERT_EQ(m_root->GetValue("b", value, nullptr), 0);
  EXPECT_EQ(value.string8(), std::string_view("text"));
}

TEST_F(MemoryStorageTest, StoreHandsOutTreesByClassId) {
  ref_ptr<ozo::IStorage> tree;
  EXPECT_EQ(m_store->GetStorage(0x27F2BC0F, tree.Ref()), 0);
  EXPECT_EQ(tree.get(), m_root.get());
  EXPECT_EQ(m_store->GetStorage(0x1234, tree.Ref()), ozo::results::NotFound);
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
