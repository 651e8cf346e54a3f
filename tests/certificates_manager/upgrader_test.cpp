// The upgrader's copy: names of digits only must index an entry of their
// node. What a copy leaves in the new store, and its failed steps, are in the
// transcripts.
#include <gtest/gtest.h>

#include "ivo/certificates_manager.h"
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

}  // namespace
