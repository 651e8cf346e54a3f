// The synchronized storage: which lock each forwarded call takes. The locks of
// the typed calls, and their trace texts, are in the transcripts.
#include "ivo_common/synchronized_storage.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/support/recording_host.h"

namespace {

using Kind = host::StorageMutex::Kind;
using ozo::ref_ptr;
using ozo::types::variant_t;

class SynchronizedStorageTest : public testing::Test {
 protected:
  SynchronizedStorageTest() {
    m_storage = ivo::MakeSynchronizedStorage(m_host.locator());
    EXPECT_EQ(m_host.storageRoot()->AppendNode("Set", m_node.Ref()), 0);
    m_storage->Storage() = m_node;
    m_host.storageMutex().ClearRecord();
  }

  std::vector<Kind> Locks() const { return m_host.storageMutex().acquisitions(); }

  test::RecordingHost m_host;
  ref_ptr<ozo::IStorage> m_node;
  ref_ptr<ivo::SynchronizedStorage> m_storage;
};

// Changes take the lock exclusively, reads shared; each call once.
TEST_F(SynchronizedStorageTest, EachForwardedCallTakesItsLockKindOnce) {
  ASSERT_EQ(m_node->SetValue("v", variant_t::FromUInt32(1), nullptr), 0);
  char buffer[64];
  std::uint32_t size = sizeof(buffer);
  variant_t value;
  const std::pair<std::function<void(ozo::IStorage&)>, Kind> calls[] = {
      {[](ozo::IStorage& s) {
         ref_ptr<ozo::IStorage> c;
         s.AppendNode("child", c.Ref());
       },
       Kind::Exclusive},
      {[](ozo::IStorage& s) {
         ref_ptr<ozo::IStorage> c;
         s.GetNode("child", c.Ref());
       },
       Kind::Shared},
      {[](ozo::IStorage& s) {
         ref_ptr<ozo::IStorage> c;
         s.GetNode(0u, c.Ref());
       },
       Kind::Shared},
      {[&](ozo::IStorage& s) { s.GetName(buffer, size); }, Kind::Shared},
      {[&](ozo::IStorage& s) { s.GetNodesCount(size); }, Kind::Shared},
      {[&](ozo::IStorage& s) { s.GetNodeName(0, nullptr, size); }, Kind::Shared},
      {[&](ozo::IStorage& s) { s.GetValuesCount(size); }, Kind::Shared},
      {[&](ozo::IStorage& s) { s.GetValueName(0, nullptr, size); }, Kind::Shared},
      {[&](ozo::IStorage& s) { s.SetValue("v", variant_t::FromUInt32(2), nullptr); }, Kind::Exclusive},
      {[&](ozo::IStorage& s) { s.GetValue("v", value, nullptr); }, Kind::Shared},
      {[&](ozo::IStorage& s) { s.GetValue(0u, value, nullptr); }, Kind::Shared},
      {[](ozo::IStorage& s) { s.Flush(); }, Kind::Exclusive},
      {[](ozo::IStorage& s) { s.RemoveNode("child"); }, Kind::Exclusive},
  };
  for (const auto& [call, kind] : calls) {
    m_host.storageMutex().ClearRecord();
    call(*m_storage);
    EXPECT_EQ(Locks(), std::vector<Kind>{kind});
  }
  EXPECT_EQ(m_host.storageMutex().nestedAcquisitions(), 0u);
}

}  // namespace
