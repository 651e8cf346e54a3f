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

TEST_F(SerializerTest, ClientRecordRoundTripsWithItsTypeId) {
  ivo::ClientCertificate record(ozo::blob_t("\x30\x82\x00", 3), ozo::string8_t("secret password"));
  auto node = NewNode();
  ozo::any_descr_ptr_t value{&record, host::ClientCertificateDescriptor(), nullptr};
  ASSERT_EQ(serializer()->Serialize(&value, node.get(), 0, nullptr), 0);

  ozo::any_struct_t read;
  ASSERT_EQ(serializer()->Deserialize(read.Ref(), node.get(), 0, nullptr), 0);
  ASSERT_TRUE(read.IsValid());
  EXPECT_EQ(read.descriptor()->typeId, ivo::ClientCertificate::TypeId);
  EXPECT_EQ(read.allocator(), &m_host.allocator());
  const auto* copy = static_cast<const ivo::ClientCertificate*>(read.object());
  EXPECT_EQ(copy->certificate, record.certificate);
  EXPECT_EQ(copy->password, record.password);
}

TEST_F(SerializerTest, AnEmptyNodeIsNotFoundAndACutShortOneHoldsNoObject) {
  auto node = NewNode();
  ozo::any_struct_t read;
  EXPECT_EQ(serializer()->Deserialize(read.Ref(), node.get(), 0, nullptr), ozo::results::NotFound);
  ASSERT_EQ(node->SetValue("$type", variant_t::FromUInt32(ivo::ClientCertificate::TypeId), nullptr), 0);
  ASSERT_EQ(node->SetValue("certificate", variant_t::FromBlob(ozo::blob_t("x", 1)), nullptr), 0);
  EXPECT_EQ(serializer()->Deserialize(read.Ref(), node.get(), 0, nullptr), 0);
  EXPECT_FALSE(read.IsValid());
  ASSERT_NE(read.descriptor(), nullptr);
  EXPECT_EQ(read.descriptor()->typeId, ivo::ClientCertificate::TypeId);
  EXPECT_EQ(m_host.allocator().liveBlocks(), 0u);
}

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

TEST_F(SerializerTest, AllocatorFailureIsOutOfMemory) {
  ivo::ServerCertificate record{ozo::blob_t("abc", 3)};
  auto node = NewNode();
  ozo::any_descr_ptr_t value{&record, host::ServerCertificateDescriptor(), nullptr};
  ASSERT_EQ(serializer()->Serialize(&value, node.get(), 0, nullptr), 0);
  m_host.faults().FailOperation("IAllocator::Allocate", ozo::results::OutOfMemory);
  ozo::any_struct_t read;
  EXPECT_EQ(serializer()->Deserialize(read.Ref(), node.get(), 0, nullptr), ozo::results::OutOfMemory);
}

}  // namespace
