#include <gtest/gtest.h>

#include <string>

#include "app_core/facade/upgrade/persistent_data_upgrader.h"
#include "host/service_host.h"
#include "ivo/certificates_manager.h"
#include "ozo/module.h"
#include "ozo/storage/storage_copy.h"
#include "tests/support/recording_host.h"
#include "tests/support/trace_capture.h"

namespace {

using app_core::facade::upgrade::IPersistentDataUpgrader;
using ozo::ref_ptr;
using ozo::types::variant_t;
namespace results = ozo::results;

ref_ptr<ozo::IStorage> Child(ozo::IStorage* parent, const char* name) {
  ref_ptr<ozo::IStorage> child;
  EXPECT_EQ(parent->AppendNode(name, child.Ref()), 0);
  return child;
}

// A readable dump of a tree: "name{value=...;child{...}}".
std::string Dump(ozo::IStorage* node) {
  std::string text = "{";
  std::uint32_t count = 0;
  node->GetValuesCount(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    char name[64];
    std::uint32_t size = sizeof(name);
    variant_t value;
    node->GetValueName(i, name, size);
    node->GetValue(i, value, nullptr);
    text +=
        std::string(name) + "=" +
        (value.tag() == ozo::types::VariantTag::String8 ? value.string8().c_str() : std::to_string(value.scalar())) +
        ";";
  }
  node->GetNodesCount(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    ref_ptr<ozo::IStorage> child;
    node->GetNode(i, child.Ref());
    char name[64];
    std::uint32_t size = sizeof(name);
    child->GetName(name, size);
    text += std::string(name) + Dump(child.get());
  }
  return text + "}";
}

class UpgraderTest : public testing::Test {
 protected:
  UpgraderTest() {
    ref_ptr<ozo::IObject> object;
    EXPECT_EQ(ozoCreateObject(app_core::facade::upgrade::ClsIdCertificatesManagerPersistentDataUpgrader,
                              m_host.locatorAddress(), object.Ref()),
              0);
    EXPECT_EQ(ozo::QueryInterface(object.get(), m_upgrader), 0);
  }

  ozo::IStorage* OldTree() {
    if (!m_oldTree) {
      EXPECT_EQ(m_old->CreateStorage(ivo::ClsIdCertificatesManager, m_oldTree.Ref()), 0);
    }
    return m_oldTree.get();
  }

  test::RecordingHost m_host;
  ref_ptr<host::MemoryPersistentStorage> m_old = host::Make<host::MemoryPersistentStorage>(m_host.sharedFaults());
  ref_ptr<ozo::IStorage> m_oldTree;
  ref_ptr<IPersistentDataUpgrader> m_upgrader;
};

TEST_F(UpgraderTest, AnOldStoreWithoutTheTreeIsFalseAndTheNewStoreIsUntouched) {
  m_host.faults().Reset();
  EXPECT_EQ(m_upgrader->Upgrade(m_old.get(), m_host.store()), results::False);
  EXPECT_EQ(test::WithoutTracing(m_host.faults().journal()),
            std::vector<std::string>{"IPersistentStorage::GetStorage"});
}

TEST_F(UpgraderTest, CopiesBothSetsIntoANewStoreThatAlreadyHoldsData) {
  auto servers = Child(OldTree(), "ServerCertificates");
  for (const char* type : {"ZepaEdr", "Siem"}) {
    auto record = Child(servers.get(), type);
    record->SetValue("$type", variant_t::FromUInt32(ivo::ServerCertificate::TypeId), nullptr);
    record->SetValue("certificate", variant_t::FromString8(type), nullptr);
  }
  auto clients = Child(OldTree(), "ClientCertificates");
  auto client = Child(clients.get(), "ZepaNdr");
  client->SetValue("password", variant_t::FromString8("pw"), nullptr);
  Child(m_host.storageRoot(), "Existing")->SetValue("kept", variant_t::FromUInt32(7), nullptr);

  EXPECT_EQ(m_upgrader->Upgrade(m_old.get(), m_host.store()), 0);
  EXPECT_EQ(Dump(m_host.storageRoot()),
            "{Existing{kept=7;}ServerCertificates{ZepaEdr{$type=3493508740;certificate=ZepaEdr;}"
            "Siem{$type=3493508740;certificate=Siem;}}ClientCertificates{ZepaNdr{password=pw;}}}");
}

struct NumericCase {
  const char* name;
  bool asValue;
  ozo::result_t result;
};

class NumericNameTest : public UpgraderTest, public testing::WithParamInterface<NumericCase> {};

// Three children and four values: 7 in all.
TEST_P(NumericNameTest, AllDigitNamesMustBeBelowTheNumberOfEntries) {
  auto node = Child(OldTree(), "node");
  for (const char* child : {"a", "b"}) Child(node.get(), child);
  for (const char* value : {"v1", "v2", "v3"}) node->SetValue(value, variant_t::FromUInt32(1), nullptr);
  if (GetParam().asValue) {
    Child(node.get(), "c");
    node->SetValue(GetParam().name, variant_t::FromUInt32(1), nullptr);
  } else {
    node->SetValue("v4", variant_t::FromUInt32(1), nullptr);
    Child(node.get(), GetParam().name);
  }
  EXPECT_EQ(
      ozo::storage::Copy(
          OldTree(), m_host.storageRoot(),
          [](ozo::IStorage* d, ozo::cstr8_t n, ozo::IStorage** c, std::uint32_t) { return d->AppendNode(n, c); }, true),
      GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NumericNameTest,
    testing::Values(NumericCase{"7", false, results::OutOfRange}, NumericCase{"6", false, results::NoError},
                    NumericCase{"7a", false, results::NoError}, NumericCase{"7", true, results::OutOfRange},
                    NumericCase{"6", true, results::NoError}, NumericCase{"99999999999", true, results::OutOfRange}));

TEST_F(UpgraderTest, AnEmptyUnnamedTextIsNotCopiedAndANonEmptyOneIs) {
  auto withEmpty = Child(OldTree(), "empty");
  withEmpty->SetValue("", variant_t::FromString8(""), nullptr);
  auto withText = Child(OldTree(), "text");
  withText->SetValue("", variant_t::FromString8("unnamed"), nullptr);
  ASSERT_EQ(m_upgrader->Upgrade(m_old.get(), m_host.store()), 0);
  EXPECT_EQ(Dump(m_host.storageRoot()), "{empty{=;}text{=unnamed;}}");
}

// Each failing step's code is returned; the copy stops where it failed.
TEST_F(UpgraderTest, AFailingStepIsReturned) {
  Child(OldTree(), "ServerCertificates");
  for (const auto& [operation, skip] : {std::pair{"IPersistentStorage::GetStorage", 0u},
                                        {"IPersistentStorage::GetStorage", 1u},
                                        {"IStorage::AppendNode", 0u}}) {
    m_host.faults().Reset();
    m_host.faults().FailOperation(operation, results::MediaError, skip, 1);
    EXPECT_EQ(m_upgrader->Upgrade(m_old.get(), m_host.store()), results::MediaError) << operation << " " << skip;
  }
}

TEST(UpgraderCreation, WithoutTracerFailsAndLeavesTheModuleUnloadable) {
  test::RecordingHost host(host::HostOptions::Without({host::Service::Tracer}));
  ozo::IObject* object = nullptr;
  EXPECT_EQ(ozoCreateObject(app_core::facade::upgrade::ClsIdCertificatesManagerPersistentDataUpgrader,
                            host.locatorAddress(), &object),
            results::InterfaceNotSupported);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(ozoCanUnloadModule(), 0);
}

}  // namespace
