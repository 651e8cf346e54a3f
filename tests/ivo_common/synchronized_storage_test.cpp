// The synchronized storage: which lock each call takes, what typed reads and
// writes leave behind when a host call fails, and construction without its
// services. Its trace texts are in the transcripts.
#include "ivo_common/synchronized_storage.h"

#include <gtest/gtest.h>

#include <functional>

#include "ivo/certificate_records.h"
#include "ivo_common/tools_03.h"
#include "ozo/error_handling/exception.h"
#include "ozo/object/module_count.h"
#include "tests/support/recording_host.h"

namespace {

using Kind = host::StorageMutex::Kind;
using ozo::ref_ptr;
using ozo::types::variant_t;
namespace results = ozo::results;

class SynchronizedStorageTest : public testing::Test {
 protected:
  SynchronizedStorageTest() {
    m_storage = ivo::MakeSynchronizedStorage(m_host.locator());
    EXPECT_EQ(m_host.storageRoot()->AppendNode("Set", m_node.Ref()), 0);
    m_storage->Storage() = m_node;
    m_host.storageMutex().ClearRecord();
  }

  std::vector<Kind> Locks() const { return m_host.storageMutex().acquisitions(); }
  std::uint32_t Children() const {
    std::uint32_t count = 0;
    EXPECT_EQ(m_node->GetNodesCount(count), 0);
    return count;
  }
  ozo::any_struct_t Record(const char* bytes = "cert") {
    return tools::MakeAnyStruct(m_host.locator(), ivo::ServerCertificate{ozo::blob_t(bytes, std::strlen(bytes))});
  }

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
      {[](ozo::IStorage& s) { ref_ptr<ozo::IStorage> c; s.AppendNode("child", c.Ref()); }, Kind::Exclusive},
      {[](ozo::IStorage& s) { ref_ptr<ozo::IStorage> c; s.GetNode("child", c.Ref()); }, Kind::Shared},
      {[](ozo::IStorage& s) { ref_ptr<ozo::IStorage> c; s.GetNode(0u, c.Ref()); }, Kind::Shared},
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

TEST_F(SynchronizedStorageTest, ForwardedCallsPassSuccessCodesOnButAppendAnswers0) {
  m_host.faults().FailOperation("IStorage::", 1);
  ref_ptr<ozo::IStorage> child;
  EXPECT_EQ(m_storage->AppendNode("a", child.Ref()), 0);
  EXPECT_EQ(m_storage->RemoveNode("a"), 1);
}

TEST_F(SynchronizedStorageTest, TypedAppendFailuresLeaveTheChildAsTheFailedStepDid) {
  EXPECT_EQ(m_storage->AppendNode("x", ozo::any_struct_t(), false), results::InvalidState);
  EXPECT_TRUE(Locks().empty());
  const struct {
    const char* operation;
    bool flush;
    std::uint32_t childrenAfter;
  } failures[] = {{"IStorage::AppendNode", false, 0}, {"IStorageSerializer2::Serialize", false, 1},
                  {"IStorage::Flush", true, 2}};
  for (const auto& failure : failures) {
    m_host.faults().Reset();
    m_host.faults().FailOperation(failure.operation, results::MediaError);
    EXPECT_EQ(m_storage->AppendNode(failure.operation, Record(), failure.flush), results::MediaError);
    EXPECT_EQ(Children(), failure.childrenAfter) << failure.operation;
  }
}

TEST_F(SynchronizedStorageTest, TypedWritesAndReadsRoundTripUnderOneLockEach) {
  ASSERT_EQ(m_storage->AppendNode("ZepaEdr", Record("bytes"), true), 0);
  ozo::any_struct_t byName, byIndex;
  ASSERT_EQ(m_storage->GetNode("ZepaEdr", byName), 0);
  m_host.faults().FailOperation("IStorageSerializer2::Deserialize", 1);  // a positive code is still 0
  ASSERT_EQ(m_storage->GetNode(0u, byIndex), 0);
  for (const ozo::any_struct_t* read : {&byName, &byIndex})
    EXPECT_EQ(static_cast<ivo::ServerCertificate*>(read->object())->certificate, ozo::blob_t("bytes", 5));
  EXPECT_EQ(Locks(), (std::vector<Kind>{Kind::Exclusive, Kind::Shared, Kind::Shared}));

  ozo::any_struct_t value;
  EXPECT_EQ(m_storage->GetNode("Siem", value), results::PathNotFound);
  EXPECT_EQ(m_storage->GetNode(3u, value), results::OutOfRange);
  ref_ptr<ozo::IStorage> empty;
  ASSERT_EQ(m_node->AppendNode("Empty", empty.Ref()), 0);
  EXPECT_EQ(m_storage->GetNode("Empty", value), results::NotFound);
}

TEST_F(SynchronizedStorageTest, RemoveAllAndClearEmptyTheNodeOrSayWhatStays) {
  for (const char* name : {"a", "bb", "a-long-child-name-beyond-sixteen"}) {
    ref_ptr<ozo::IStorage> child;
    ASSERT_EQ(m_node->AppendNode(name, child.Ref()), 0);
  }
  EXPECT_EQ(m_storage->RemoveAllNodes("none"), 0);
  m_host.faults().FailOperation("IStorage::RemoveNode", results::AccessDenied, 0, 1);
  EXPECT_EQ(m_storage->RemoveAllNodes("a"), results::UnspecifiedError);
  EXPECT_EQ(m_storage->Clear(), 0);
  EXPECT_EQ(Children(), 0u);
}

TEST(SynchronizedStorageConstruction, AMissingServiceThrowsAndLeavesNothing) {
  const std::pair<host::Service, std::int32_t> missing[] = {
      {host::Service::Allocator, 103}, {host::Service::StorageMutex, 16}, {host::Service::Serializer, 18}};
  for (const auto& [service, line] : missing) {
    test::RecordingHost host(host::HostOptions::Without({service}));
    try {
      ivo::MakeSynchronizedStorage(host.locator());
      ADD_FAILURE() << "constructed";
    } catch (const ozo::exception& e) {
      EXPECT_EQ(e.line(), line);
      EXPECT_TRUE(ozo::Failed(ozo::GetExceptionResult(e)));
    }
    EXPECT_EQ(ozo::detail::ModuleObjectCount().load(), 0u);
  }
}

}  // namespace
