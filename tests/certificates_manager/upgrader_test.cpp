// The upgrader's copy: names of digits only must index an entry of their
// node, and a failed step is returned. What a copy leaves in the new store is
// in the transcripts.
#include <gtest/gtest.h>

#include "app_core/facade/upgrade/persistent_data_upgrader.h"
#include "ivo/certificates_manager.h"
#include "ozo/module.h"
#include "ozo/storage/storage_copy.h"
#include "tests/support/recording_host.h"

namespace {

using ozo::ref_ptr;
using ozo::types::variant_t;
namespace results = ozo::results;

ref_ptr<ozo::IStorage> Child(ozo::IStorage* parent, const char* name) {
  ref_ptr<ozo::IStorage> child;
  EXPECT_EQ(parent->AppendNode(name, child.Ref()), 0);
  return child;
}

class UpgraderTest : public testing::Test {
 protected:
  test::RecordingHost m_host;
  test::RecordingHost m_old;
};

struct NumericCase {
  const char* name;
  bool asValue;
  ozo::result_t result;
};

class NumericNameTest : public UpgraderTest, public testing::WithParamInterface<NumericCase> {};

// Three children and four values: 7 in all.
TEST_P(NumericNameTest, AllDigitNamesMustBeBelowTheNumberOfEntries) {
  auto node = Child(m_old.storageRoot(), "node");
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
          m_old.storageRoot(), m_host.storageRoot(),
          [](ozo::IStorage* d, ozo::cstr8_t n, ozo::IStorage** c, std::uint32_t) { return d->AppendNode(n, c); }, true),
      GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NumericNameTest,
    testing::Values(NumericCase{"7", false, results::OutOfRange}, NumericCase{"6", false, results::NoError},
                    NumericCase{"7a", false, results::NoError}, NumericCase{"7", true, results::OutOfRange},
                    NumericCase{"6", true, results::NoError}, NumericCase{"99999999999", true, results::OutOfRange}));

TEST_F(UpgraderTest, AFailingStepIsReturned) {
  ref_ptr<ozo::IObject> object;
  ref_ptr<app_core::facade::upgrade::IPersistentDataUpgrader> upgrader;
  ASSERT_EQ(ozoCreateObject(app_core::facade::upgrade::ClsIdCertificatesManagerPersistentDataUpgrader,
                            m_host.locatorAddress(), object.Ref()),
            0);
  ASSERT_EQ(ozo::QueryInterface(object.get(), upgrader), 0);
  Child(m_old.storageRoot(), "ServerCertificates");
  for (const auto& [host, operation] : {std::pair{&m_old, "IPersistentStorage::GetStorage"},
                                        {&m_host, "IPersistentStorage::GetStorage"},
                                        {&m_host, "IStorage::AppendNode"}}) {
    host->faults().Reset();
    host->faults().FailOperation(operation, results::MediaError, 0, 1);
    EXPECT_EQ(upgrader->Upgrade(m_old.store(), m_host.store()), results::MediaError) << operation;
  }
}

}  // namespace
