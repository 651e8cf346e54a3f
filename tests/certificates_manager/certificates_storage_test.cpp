// The certificate storage's layout and results. Its failure records are in
// the transcripts; failed host calls of every operation in the fault sweep.
#include "certificates_manager/certificates_storage.h"

#include <gtest/gtest.h>

#include <optional>

#include "ozo/error_handling/exception.h"
#include "ozo/object/module_count.h"
#include "tests/support/recording_host.h"

namespace {

using ivo::ClientCertificate;
using ivo::ServerCertificate;
using ozo::ref_ptr;
namespace results = ozo::results;

ServerCertificate Server(const char* bytes) { return ServerCertificate{ozo::blob_t(bytes, std::strlen(bytes))}; }

class CertificatesStorageTest : public testing::Test {
 protected:
  explicit CertificatesStorageTest(host::HostOptions options = {}) : m_host(std::move(options)) {
    m_storage.emplace(m_host.locator());
  }

  ref_ptr<ozo::IStorage> SetNode(const char* set) {
    ref_ptr<ozo::IStorage> node;
    EXPECT_EQ(m_host.storageRoot()->GetNode(set, node.Ref()), 0);
    return node;
  }
  std::uint32_t Count(ozo::IStorage* node) {
    std::uint32_t count = 0;
    EXPECT_EQ(node->GetNodesCount(count), 0);
    return count;
  }

  test::RecordingHost m_host;
  std::optional<ivo::CertificatesStorage> m_storage;
};

TEST_F(CertificatesStorageTest, BothSetsAreMadeOnceAndRecordsRoundTripByteForByte) {
  m_storage.emplace(m_host.locator());
  EXPECT_EQ(Count(m_host.storageRoot()), 2u);
  const ClientCertificate record(ozo::blob_t("\x30\x82\x01", 3), "p\xC3\xA4ss word");
  ASSERT_EQ(m_storage->SaveCertificate(ivo::CertificateTypeSandbox, record), 0);
  ClientCertificate read;
  ASSERT_EQ(m_storage->GetCertificate(ivo::CertificateTypeSandbox, read), 0);
  EXPECT_EQ(read.certificate, record.certificate);
  EXPECT_EQ(read.password, record.password);
  ref_ptr<ozo::IStorage> node;
  EXPECT_EQ(SetNode("ClientCertificates")->GetNode("ZepaSandbox", node.Ref()), 0);
}

TEST_F(CertificatesStorageTest, AMissingTypeIsNotFoundAndLeavesTheRecordUntouched) {
  ServerCertificate read = Server("untouched");
  EXPECT_EQ(m_storage->GetCertificate(ivo::CertificateTypeMiru, read), results::NotFound);
  EXPECT_EQ(read.certificate, ozo::blob_t("untouched", 9));
  EXPECT_EQ(m_storage->RemoveCertificate<ClientCertificate>(ivo::CertificateTypeMiru), results::NotFound);
}

TEST_F(CertificatesStorageTest, LoadReplacesTheVectorInChildOrderSkippingWhatCannotBeRead) {
  std::vector<ServerCertificate> loaded{Server("stale")};
  ASSERT_EQ(m_storage->LoadCertificates(loaded), 0);
  EXPECT_TRUE(loaded.empty());
  for (const auto& [type, bytes] : {std::pair{3u, "ndr"}, {1u, "edr"}, {2u, "sandbox"}})
    ASSERT_EQ(m_storage->SaveCertificate(type, Server(bytes)), 0);
  ASSERT_EQ(m_storage->LoadCertificates(loaded), 0);
  ASSERT_EQ(loaded.size(), 3u);
  EXPECT_EQ(loaded[0].certificate, ozo::blob_t("ndr", 3));
  EXPECT_EQ(loaded[1].certificate, ozo::blob_t("edr", 3));
  m_host.faults().FailOperation("IStorage::GetNode/index", results::OutOfRange, 0, 1);
  ASSERT_EQ(m_storage->LoadCertificates(loaded), 0);
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded[0].certificate, ozo::blob_t("edr", 3));
}

TEST_F(CertificatesStorageTest, ANodeWithoutAnObjectIsUnspecifiedAndOneOfAnotherTypeThrows) {
  ref_ptr<ozo::IStorage> node;
  ASSERT_EQ(SetNode("ServerCertificates")->AppendNode("ZepaEdr", node.Ref()), 0);
  ASSERT_EQ(node->SetValue("$type", ozo::types::variant_t::FromUInt32(ServerCertificate::TypeId), nullptr), 0);
  ServerCertificate read;
  EXPECT_EQ(m_storage->GetCertificate(ivo::CertificateTypeZepaEdr, read), results::UnspecifiedError);
  std::vector<ServerCertificate> loaded;
  EXPECT_EQ(m_storage->LoadCertificates(loaded), 0);
  EXPECT_TRUE(loaded.empty());
  // A client record where a server record belongs, as a damaged store might hold.
  ASSERT_EQ(node->SetValue("$type", ozo::types::variant_t::FromUInt32(ClientCertificate::TypeId), nullptr), 0);
  ASSERT_EQ(node->SetValue("certificate", ozo::types::variant_t::FromBlob(ozo::blob_t("x", 1)), nullptr), 0);
  ASSERT_EQ(node->SetValue("password", ozo::types::variant_t::FromString8("pw"), nullptr), 0);
  EXPECT_THROW(m_storage->GetCertificate(ivo::CertificateTypeZepaEdr, read), ozo::exception);
  EXPECT_THROW(m_storage->LoadCertificates(loaded), ozo::exception);
}

// On a host whose AppendNode adds a second child of a name, a save appends
// without touching the first: the component removes before it saves.
TEST(CertificatesStorageOnAnAppendingStore, SavingAnExistingKeyAppendsAgain) {
  host::HostOptions options;
  options.store =
      host::Make<host::MemoryPersistentStorage>(std::make_shared<host::FaultInjector>(), host::DuplicateNames::Append);
  test::RecordingHost host(std::move(options));
  ivo::CertificatesStorage storage(host.locator());
  ASSERT_EQ(storage.SaveCertificate(1, Server("first")), 0);
  ASSERT_EQ(storage.SaveCertificate(1, Server("second")), 0);
  ServerCertificate read;
  ASSERT_EQ(storage.GetCertificate(1, read), 0);
  EXPECT_EQ(read.certificate, ozo::blob_t("first", 5));
  std::vector<ServerCertificate> loaded;
  ASSERT_EQ(storage.LoadCertificates(loaded), 0);
  EXPECT_EQ(loaded.size(), 2u);
}

TEST(CertificatesStorageConstruction, FailsAtTheStepThatFailedAndReleasesEverything) {
  const struct {
    host::Service missing;
    const char* operation;
    std::uint32_t skip;
    std::int32_t line;
  } cases[] = {{host::Service::StorageRoot, "", 0, 54},
               {host::Service::SecondaryMetaInfo, "IStorage::AppendNode", 0, 59},
               {host::Service::SecondaryMetaInfo, "IStorage::AppendNode", 1, 64}};
  for (const auto& c : cases) {
    test::RecordingHost host(host::HostOptions::Without({c.missing}));
    if (*c.operation) host.faults().FailOperation(c.operation, results::AccessDenied, c.skip);
    try {
      ivo::CertificatesStorage storage(host.locator());
      ADD_FAILURE() << "constructed";
    } catch (const ozo::CheckResultFailedException& e) {
      EXPECT_STREQ(e.file(), "certificates_manager/certificates_storage");
      EXPECT_EQ(e.line(), c.line);
    }
    EXPECT_EQ(ozo::detail::ModuleObjectCount().load(), 0u);
  }
}

}  // namespace
