#include "host/storage/memory_storage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using ozo::ref_ptr;
using ozo::types::variant_t;

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

}  // namespace
