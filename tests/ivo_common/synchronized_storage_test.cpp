#include "ivo_common/synchronized_storage.h"

#include <gtest/gtest.h>

#include <functional>

#include "host/service_host.h"
#include "host/storage/record_descriptors.h"
#include "ivo/certificate_records.h"
#include "ivo_common/tools_03.h"
#include "ozo/error_handling/exception.h"
#include "ozo/object/module_count.h"
#include "tests/support/recording_host.h"
#include "tests/support/trace_capture.h"

namespace {

using host::StorageMutex;
using ozo::ref_ptr;
using ozo::types::variant_t;
namespace results = ozo::results;

class SynchronizedStorageTest : public testing::Test {
 protected:
  SynchronizedStorageTest() {
    m_storage = ivo::MakeSynchronizedStorage(m_host.locator());
    EXPECT_EQ(m_host.storageRoot()->AppendNode("Set", m_node.Ref()), 0);
    m_storage->Storage() = m_node;
    m_host.tracer().Clear();
    m_host.storageMutex().ClearRecord();
  }

  std::vector<std::string> Errors() const { return m_host.tracer().texts(300); }
  std::vector<StorageMutex::Kind> Locks() const { return m_host.storageMutex().acquisitions(); }

  ozo::any_struct_t Record(const char* bytes = "cert") {
    return tools::MakeAnyStruct(m_host.locator(), ivo::ServerCertificate{ozo::blob_t(bytes, std::strlen(bytes))});
  }

  test::RecordingHost m_host;
  ref_ptr<ozo::IStorage> m_node;
  ref_ptr<ivo::SynchronizedStorage> m_storage;
};

struct ForwardCase {
  const char* name;
  std::function<ozo::result_t(ozo::IStorage&)> call;
  const char* entry;
  StorageMutex::Kind lock;
};

class ForwardedOperationTest : public SynchronizedStorageTest, public testing::WithParamInterface<ForwardCase> {};

TEST_P(ForwardedOperationTest, TracesItsSignatureAndTakesItsLockOnce) {
  ASSERT_EQ(m_node->SetValue("v", variant_t::FromUInt32(1), nullptr), 0);
  ref_ptr<ozo::IStorage> child;
  ASSERT_EQ(m_node->AppendNode("child", child.Ref()), 0);
  m_host.storageMutex().ClearRecord();
  GetParam().call(*m_storage);
  EXPECT_EQ(m_host.tracer().texts(800), std::vector<std::string>{GetParam().entry});
  EXPECT_EQ(Locks(), std::vector<StorageMutex::Kind>{GetParam().lock});
  EXPECT_EQ(m_host.storageMutex().nestedAcquisitions(), 0u);
}

using Kind = StorageMutex::Kind;
char g_buffer[64];
std::uint32_t g_size = sizeof(g_buffer);
variant_t g_value;
ozo::IStorage* g_child = nullptr;
ozo::result_t ReleaseChild(ozo::result_t result) {
  if (g_child) g_child->Release();
  g_child = nullptr;
  return result;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ForwardedOperationTest,
    testing::Values(
        ForwardCase{"AppendNode", [](ozo::IStorage& s) { return ReleaseChild(s.AppendNode("n", &g_child)); },
                    "virtual result_t ivo::SynchronizedStorage::AppendNode(cstr8_t, ozo::IStorage**)", Kind::Exclusive},
        ForwardCase{"RemoveNode", [](ozo::IStorage& s) { return s.RemoveNode("child"); },
                    "virtual result_t ivo::SynchronizedStorage::RemoveNode(cstr8_t)", Kind::Exclusive},
        ForwardCase{"GetNodeByName", [](ozo::IStorage& s) { return ReleaseChild(s.GetNode("child", &g_child)); },
                    "virtual result_t ivo::SynchronizedStorage::GetNode(cstr8_t, ozo::IStorage**)", Kind::Shared},
        ForwardCase{"GetName", [](ozo::IStorage& s) { return s.GetName(g_buffer, g_size); },
                    "virtual result_t ivo::SynchronizedStorage::GetName(str8_t, uint32_t&)", Kind::Shared},
        ForwardCase{"GetNodesCount", [](ozo::IStorage& s) { return s.GetNodesCount(g_size); },
                    "virtual result_t ivo::SynchronizedStorage::GetNodesCount(uint32_t&)", Kind::Shared},
        ForwardCase{"GetNodeName", [](ozo::IStorage& s) { return s.GetNodeName(0, nullptr, g_size); },
                    "virtual result_t ivo::SynchronizedStorage::GetNodeName(uint32_t, str8_t, uint32_t&)",
                    Kind::Shared},
        ForwardCase{"GetNodeByIndex", [](ozo::IStorage& s) { return ReleaseChild(s.GetNode(0u, &g_child)); },
                    "virtual result_t ivo::SynchronizedStorage::GetNode(uint32_t, ozo::IStorage**)", Kind::Shared},
        ForwardCase{"GetValuesCount", [](ozo::IStorage& s) { return s.GetValuesCount(g_size); },
                    "virtual result_t ivo::SynchronizedStorage::GetValuesCount(uint32_t&)", Kind::Shared},
        ForwardCase{"GetValueName", [](ozo::IStorage& s) { return s.GetValueName(0, nullptr, g_size); },
                    "virtual result_t ivo::SynchronizedStorage::GetValueName(uint32_t, str8_t, uint32_t&)",
                    Kind::Shared},
        ForwardCase{"SetValue", [](ozo::IStorage& s) { return s.SetValue("v", variant_t::FromUInt32(2), nullptr); },
                    "virtual result_t ivo::SynchronizedStorage::SetValue(cstr8_t, const ozo::types::variant_t&, "
                    "ozo::IStoredValueFormatter*)",
                    Kind::Exclusive},
        ForwardCase{"GetValueByName", [](ozo::IStorage& s) { return s.GetValue("v", g_value, nullptr); },
                    "virtual result_t ivo::SynchronizedStorage::GetValue(cstr8_t, ozo::types::variant_t&, "
                    "ozo::IStoredValueFormatter*)",
                    Kind::Shared},
        ForwardCase{"GetValueByIndex", [](ozo::IStorage& s) { return s.GetValue(0u, g_value, nullptr); },
                    "virtual result_t ivo::SynchronizedStorage::GetValue(uint32_t, ozo::types::variant_t&, "
                    "ozo::IStoredValueFormatter*)",
                    Kind::Shared},
        ForwardCase{"Flush", [](ozo::IStorage& s) { return s.Flush(); },
                    "virtual result_t ivo::SynchronizedStorage::Flush()", Kind::Exclusive}),
    [](const testing::TestParamInfo<ForwardCase>& info) { return info.param.name; });

TEST_F(SynchronizedStorageTest, AppendNodeTurnsSuccessCodesInto0AndOthersPassThemOn) {
  m_host.faults().FailOperation("IStorage::", 1);
  ref_ptr<ozo::IStorage> child;
  EXPECT_EQ(m_storage->AppendNode("a", child.Ref()), 0);
  EXPECT_EQ(m_storage->RemoveNode("a"), 1);
  EXPECT_EQ(m_storage->Flush(), 1);
}

TEST_F(SynchronizedStorageTest, FailedAppendIsTracedWithTheName) {
  m_host.faults().FailOperation("IStorage::AppendNode", results::OutOfSpace);
  ref_ptr<ozo::IStorage> child;
  EXPECT_EQ(m_storage->AppendNode("Siem", child.Ref()), results::OutOfSpace);
  EXPECT_EQ(Errors(), std::vector<std::string>{"ivo_common/synchronized_storage:28(m_storage->AppendNode(name, node)),"
                                               "(OZO_SUCCEEDED(_result)) failed: result = 0x80000062 (Out of space)"
                                               "Cannot append node Siem"});
}

TEST_F(SynchronizedStorageTest, TypedAppendOfAnEmptyValueTouchesNothing) {
  EXPECT_EQ(m_storage->AppendNode("x", ozo::any_struct_t(), false), results::InvalidState);
  EXPECT_TRUE(Locks().empty());
  EXPECT_EQ(Errors(), std::vector<std::string>{"ivo_common/synchronized_storage:145(value.IsValid()),(bool) failed: "
                                               "result = falseCannot make any struct"});
  std::uint32_t count = 1;
  ASSERT_EQ(m_node->GetNodesCount(count), 0);
  EXPECT_EQ(count, 0u);
}

struct TypedAppendFailure {
  const char* name;
  const char* operation;
  std::int32_t line;
  bool flush;
  bool childLeft;
  const char* message;
};

class TypedAppendFailureTest : public SynchronizedStorageTest,
                               public testing::WithParamInterface<TypedAppendFailure> {};

TEST_P(TypedAppendFailureTest, IsTracedAndLeavesTheChildAsItWas) {
  auto value = Record();
  m_host.faults().FailOperation(GetParam().operation, results::MediaError);
  EXPECT_EQ(m_storage->AppendNode("ZepaEdr", value, GetParam().flush), results::MediaError);
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_NE(Errors()[0].find(":" + std::to_string(GetParam().line) + "("), std::string::npos) << Errors()[0];
  EXPECT_NE(Errors()[0].find(std::string("(Media error)") + GetParam().message), std::string::npos) << Errors()[0];
  std::uint32_t count = 0;
  ASSERT_EQ(m_node->GetNodesCount(count), 0);
  EXPECT_EQ(count, GetParam().childLeft ? 1u : 0u);
  EXPECT_EQ(Locks(), std::vector<Kind>{Kind::Exclusive});
}

INSTANTIATE_TEST_SUITE_P(
    Table, TypedAppendFailureTest,
    testing::Values(TypedAppendFailure{"Append", "IStorage::AppendNode", 150, false, false, "Failed to add new node"},
                    TypedAppendFailure{"Serialize", "IStorageSerializer2::Serialize", 153, false, true,
                                       "Cannot serialize struct"},
                    TypedAppendFailure{"Flush", "IStorage::Flush", 157, true, true, "Cannot flush node"}),
    [](const testing::TestParamInfo<TypedAppendFailure>& info) { return info.param.name; });

TEST_F(SynchronizedStorageTest, TypedWriteAndReadRoundTripUnderOneLockEach) {
  ASSERT_EQ(m_storage->AppendNode("ZepaEdr", Record("bytes"), true), 0);
  ozo::any_struct_t byName, byIndex;
  ASSERT_EQ(m_storage->GetNode("ZepaEdr", byName), 0);
  ASSERT_EQ(m_storage->GetNode(0u, byIndex), 0);
  EXPECT_EQ(static_cast<ivo::ServerCertificate*>(byName.object())->certificate, ozo::blob_t("bytes", 5));
  EXPECT_EQ(static_cast<ivo::ServerCertificate*>(byIndex.object())->certificate, ozo::blob_t("bytes", 5));
  EXPECT_EQ(Locks(), (std::vector<Kind>{Kind::Exclusive, Kind::Shared, Kind::Shared}));
  EXPECT_EQ(m_host.storageMutex().nestedAcquisitions(), 0u);
}

TEST_F(SynchronizedStorageTest, TypedReadsAnswer0WhenTheSerializerAnswersAPositiveCode) {
  ASSERT_EQ(m_storage->AppendNode("ZepaEdr", Record(), false), 0);
  m_host.faults().FailOperation("IStorageSerializer2::Deserialize", 1);
  ozo::any_struct_t value;
  EXPECT_EQ(m_storage->GetNode("ZepaEdr", value), 0);
  EXPECT_TRUE(value.IsValid());
}

TEST_F(SynchronizedStorageTest, TypedReadFailuresNameTheNodeOrIndex) {
  ozo::any_struct_t value;
  EXPECT_EQ(m_storage->GetNode("Siem", value), results::PathNotFound);
  EXPECT_EQ(m_storage->GetNode(3u, value), results::OutOfRange);
  ref_ptr<ozo::IStorage> empty;
  ASSERT_EQ(m_node->AppendNode("Empty", empty.Ref()), 0);
  EXPECT_EQ(m_storage->GetNode("Empty", value), results::NotFound);
  EXPECT_EQ(m_storage->GetNode(0u, value), results::NotFound);
  const auto errors = Errors();
  ASSERT_EQ(errors.size(), 4u);
  EXPECT_EQ(errors[0],
            "ivo_common/synchronized_storage:184(m_storage->GetNode(name, node.Ref())),"
            "(OZO_SUCCEEDED(_result)) failed: result = 0x80010103 (Path not found)Cannot get node Siem");
  EXPECT_EQ(errors[1],
            "ivo_common/synchronized_storage:169(m_storage->GetNode(idx, node.Ref())),"
            "(OZO_SUCCEEDED(_result)) failed: result = 0x8000005e (Out of range)Cannot get node with index 3");
  EXPECT_EQ(errors[2],
            "ivo_common/synchronized_storage:187(m_serializer->Deserialize(value.Ref(), node, 0, nullptr)),"
            "(OZO_SUCCEEDED(_result)) failed: result = 0x8000004c (Not found)Cannot deserialize structEmpty");
  EXPECT_EQ(errors[3],
            "ivo_common/synchronized_storage:172(m_serializer->Deserialize(value.Ref(), node, 0, nullptr)),"
            "(OZO_SUCCEEDED(_result)) failed: result = 0x8000004c (Not found)Cannot deserialize struct");
}

TEST_F(SynchronizedStorageTest, RemoveAllNodesReportsAChildThatStays) {
  EXPECT_EQ(m_storage->RemoveAllNodes("none"), 0);
  ref_ptr<ozo::IStorage> child;
  ASSERT_EQ(m_node->AppendNode("stays", child.Ref()), 0);
  m_host.faults().FailOperation("IStorage::RemoveNode", results::AccessDenied);
  EXPECT_EQ(m_storage->RemoveAllNodes("stays"), results::UnspecifiedError);
  EXPECT_EQ(Locks(), (std::vector<Kind>{Kind::Exclusive, Kind::Exclusive}));
}

TEST_F(SynchronizedStorageTest, ClearRemovesEveryChildByName) {
  m_host.faults().Reset();
  EXPECT_EQ(m_storage->Clear(), 0);
  EXPECT_EQ(test::WithoutTracing(m_host.faults().journal()), std::vector<std::string>{"IStorage::GetNodesCount"});
  for (const char* name : {"a", "bb", "a-long-child-name-beyond-sixteen"}) {
    ref_ptr<ozo::IStorage> child;
    ASSERT_EQ(m_node->AppendNode(name, child.Ref()), 0);
  }
  EXPECT_EQ(m_storage->Clear(), 0);
  std::uint32_t count = 1;
  ASSERT_EQ(m_node->GetNodesCount(count), 0);
  EXPECT_EQ(count, 0u);
}

TEST(SynchronizedStorageConstruction, MissingAllocatorThrowsGetInterfaceException) {
  test::RecordingHost host(host::HostOptions::Without({host::Service::Allocator}));
  try {
    ivo::MakeSynchronizedStorage(host.locator());
    FAIL() << "constructed";
  } catch (const ozo::GetInterfaceException& e) {
    EXPECT_STREQ(e.file(), "ozo/rtl/error_handling/../objclient");
    EXPECT_EQ(e.line(), 103);
    EXPECT_EQ(std::get<std::uint64_t>(e.FindProperty("ozo.iid")->value), 0x9CCA5603u);
    EXPECT_EQ(ozo::GetExceptionResult(e), results::InterfaceNotSupported);
  }
  EXPECT_EQ(ozo::detail::ModuleObjectCount().load(), 0u);
}

struct ConstructionCase {
  host::Service missing;
  std::int32_t line;
  const char* message;
};

class SynchronizedStorageConstructionTest : public testing::TestWithParam<ConstructionCase> {};

TEST_P(SynchronizedStorageConstructionTest, MissingServiceIsAFailedCheckAndLeavesNothing) {
  test::RecordingHost host(host::HostOptions::Without({GetParam().missing}));
  try {
    ivo::MakeSynchronizedStorage(host.locator());
    FAIL() << "constructed";
  } catch (const ozo::CheckResultFailedException& e) {
    EXPECT_STREQ(e.file(), "ivo_common/synchronized_storage");
    EXPECT_EQ(e.line(), GetParam().line);
  }
  const auto errors = host.tracer().texts(300);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find(GetParam().message), std::string::npos);
  EXPECT_EQ(ozo::detail::ModuleObjectCount().load(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SynchronizedStorageConstructionTest,
    testing::Values(ConstructionCase{host::Service::StorageMutex, 16, "Cannot get ivo::IStorageMutex interface"},
                    ConstructionCase{host::Service::Serializer, 18, "Cannot get ozo::IStorageSerializer2 interface"}));

}  // namespace
