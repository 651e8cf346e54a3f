// The host's serializer on nodes a damaged store might hold. Round trips
// are in the transcripts' stored trees; allocation failures in the fault sweep.
#include "host/storage/serializer.h"

#include <gtest/gtest.h>

#include "host/service_host.h"
#include "host/storage/record_descriptors.h"
#include "ivo/certificate_records.h"
#include "tests/support/recording_host.h"

namespace {

using ozo::ref_ptr;
using ozo::types::variant_t;

class SerializerTest : public testing::Test {
 protected:
  ref_ptr<ozo::IStorage> NewNode() {
    ref_ptr<ozo::IStorage> node;
    EXPECT_EQ(m_host.storageRoot()->AppendNode("node", node.Ref()), 0);
    return node;
  }
  ozo::IStorageSerializer2* serializer() {
    ref_ptr<ozo::IStorageSerializer2> s;
    EXPECT_EQ(ozo::GetInterface(m_host.locator(), s), 0);
    m_serializer = s;
    return m_serializer.get();
  }

  test::RecordingHost m_host;
  ref_ptr<ozo::IStorageSerializer2> m_serializer;
};

TEST_F(SerializerTest, UnknownTypeIdsAndMismatchedKindsFail) {
  auto node = NewNode();
  ASSERT_EQ(node->SetValue("$type", variant_t::FromUInt32(0x1234), nullptr), 0);
  ozo::any_struct_t read;
  EXPECT_EQ(serializer()->Deserialize(read.Ref(), node.get(), 0, nullptr), ozo::results::MetaInformationNotFound);

  ASSERT_EQ(node->SetValue("$type", variant_t::FromUInt32(ivo::ServerCertificate::TypeId), nullptr), 0);
  ASSERT_EQ(node->SetValue("certificate", variant_t::FromString8("not a blob"), nullptr), 0);
  EXPECT_EQ(serializer()->Deserialize(read.Ref(), node.get(), 0, nullptr), ozo::results::InvalidType);
  EXPECT_FALSE(read.IsValid());
  EXPECT_EQ(m_host.allocator().liveBlocks(), 0u);
}

}  // namespace
