#include "certificates_manager/certificates_storage.h"

#include <gtest/gtest.h>

#include <optional>

#include "host/service_host.h"
#include "ivo_common/tools_03.h"
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
    m_host.tracer().Clear();
  }

  // The child of the storage root named `set`.
  ref_ptr<ozo::IStorage> SetNode(const char* set) {
    ref_ptr<ozo::IStorage> node;
    EXPECT_EQ(m_host.storageRoot()->GetNode(set, node.Ref()), 0);
    return node;
  }
  std::uint32_t ChildCount(const char* set) {
    std::uint32_t count = 0;
    EXPECT_EQ(SetNode(set)->GetNodesCount(count), 0);
    return count;
  }
  std::vector<std::string> Errors() const { return m_host.tracer().texts(300); }

  test::RecordingHost m_host;
  std::optional<ivo::CertificatesStorage> m_storage;
};

TEST_F(CertificatesStorageTest, FirstConstructionCreatesBothSetsAndALaterOneFindsThem) {
  std::uint32_t count = 0;
  ASSERT_EQ(m_host.storageRoot()->GetNodesCount(count), 0);
  EXPECT_EQ(count, 2u);
  m_storage.reset();
  m_storage.emplace(m_host.locator());
  ASSERT_EQ(m_host.storageRoot()->GetNodesCount(count), 0);
  EXPECT_EQ(count, 2u);
}

TEST_F(CertificatesStorageTest, ClientRecordsKeepTheirPasswordByteForByte) {
  const ClientCertificate record(ozo::blob_t("\x30\x82\x01", 3), "p\xC3\xA4ss word");
  ASSERT_EQ(m_storage->SaveCertificate(ivo::CertificateTypeSandbox, record), 0);
  ClientCertificate read;
  ASSERT_EQ(m_storage->GetCertificate(ivo::CertificateTypeSandbox, read), 0);
  EXPECT_EQ(read.certificate, record.certificate);
  EXPECT_EQ(read.password, record.password);
  ref_ptr<ozo::IStorage> node;
  EXPECT_EQ(SetNode("ClientCertificates")->GetNode("ZepaSandbox", node.Ref()), 0);
}

TEST_F(CertificatesStorageTest, AMissingTypeIsNotFoundWithThreeErrorRecords) {
  ServerCertificate read = Server("untouched");
  EXPECT_EQ(m_storage->GetCertificate(ivo::CertificateTypeMiru, read), results::NotFound);
  EXPECT_EQ(read.certificate, ozo::blob_t("untouched", 9));
  const auto errors = Errors();
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_NE(errors[0].find("ivo_common/synchronized_storage:184("), std::string::npos);
  EXPECT_EQ(errors[1],
            "CertificatesStorage::certificates_manager/certificates_storage:145(FixErrorCode(node->GetNode("
            "name, any))),(OZO_SUCCEEDED(_result)) failed: result = 0x8000004c (Not found)Cannot get node Siem");
  EXPECT_EQ(errors[2],
            "CertificatesStorage::certificates_manager/certificates_storage:116(GetCertificate("
            "m_serverCertificates, type, cert)),(OZO_SUCCEEDED(_result)) failed: result = 0x8000004c (Not "
            "found)Cannot get server certificate from storage");
  m_host.tracer().Clear();
  EXPECT_EQ(m_storage->RemoveCertificate<ClientCertificate>(ivo::CertificateTypeMiru), results::NotFound);
  EXPECT_EQ(Errors().size(), 2u);
  EXPECT_NE(Errors()[1].find(":170(RemoveCertificate(m_clientCertificates, type))"), std::string::npos);
  EXPECT_NE(Errors()[1].find("Cannot client certificate from storage"), std::string::npos);
}

TEST_F(CertificatesStorageTest, LoadReplacesTheVectorWithTheSetInChildOrder) {
  std::vector<ServerCertificate> loaded{Server("stale")};
  ASSERT_EQ(m_storage->LoadCertificates(loaded), 0);
  EXPECT_TRUE(loaded.empty());
  ASSERT_EQ(m_storage->SaveCertificate(ivo::CertificateTypeZepaNdr, Server("ndr")), 0);
  ASSERT_EQ(m_storage->SaveCertificate(ivo::CertificateTypeZepaEdr, Server("edr")), 0);
  ASSERT_EQ(m_storage->LoadCertificates(loaded), 0);
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(loaded[0].certificate, ozo::blob_t("ndr", 3));
  EXPECT_EQ(loaded[1].certificate, ozo::blob_t("edr", 3));
}

TEST_F(CertificatesStorageTest, SavingDoesNotFlushAndDestructionFlushesBothSets) {
  ASSERT_EQ(m_storage->SaveCertificate(ivo::CertificateTypeZepaEdr, Server("edr")), 0);
  m_host.faults().Reset();
  m_storage.reset();
  const auto journal = m_host.faults().journal();
  EXPECT_EQ(std::count(journal.begin(), journal.end(), "IStorage::Flush"), 2);
}

TEST_F(CertificatesStorageTest, ANodeHoldingNoObjectIsUnspecifiedErrorAndSkippedByLoad) {
  ref_ptr<ozo::IStorage> node;
  ASSERT_EQ(SetNode("ServerCertificates")->AppendNode("ZepaEdr", node.Ref()), 0);
  ASSERT_EQ(node->SetValue("$type", ozo::types::variant_t::FromUInt32(ServerCertificate::TypeId), nullptr), 0);
  ServerCertificate read;
  EXPECT_EQ(m_storage->GetCertificate(ivo::CertificateTypeZepaEdr, read), results::UnspecifiedError);
  std::vector<ServerCertificate> loaded;
  EXPECT_EQ(m_storage->LoadCertificates(loaded), 0);
  EXPECT_TRUE(loaded.empty());
}

TEST_F(CertificatesStorageTest, ANodeOfAnotherStructureTypeThrows) {
  ASSERT_EQ(m_storage->SaveCertificate(ivo::CertificateTypeZepaEdr, ClientCertificate(ozo::blob_t("x", 1), "pw")), 0);
  ref_ptr<ozo::IStorage> clientNode;
  ASSERT_EQ(SetNode("ClientCertificates")->GetNode("ZepaEdr", clientNode.Ref()), 0);
  // Move the client record into the server set, as a damaged store might.
  ref_ptr<ozo::IStorage> serverNode;
  ASSERT_EQ(SetNode("ServerCertificates")->AppendNode("ZepaEdr", serverNode.Ref()), 0);
  for (const char* name : {"$type", "certificate", "password"}) {
    ozo::types::variant_t value;
    ASSERT_EQ(clientNode->GetValue(name, value, nullptr), 0);
    ASSERT_EQ(serverNode->SetValue(name, value, nullptr), 0);
  }
  ServerCertificate read;
  EXPECT_THROW(m_storage->GetCertificate(ivo::CertificateTypeZepaEdr, read), ozo::exception);
  std::vector<ServerCertificate> loaded;
  EXPECT_THROW(m_storage->LoadCertificates(loaded), ozo::exception);
}

struct FailureRow {
  const char* name;
  const char* operation;  // host call made to fail
  std::function<ozo::result_t(ivo::CertificatesStorage&)> call;
  std::vector<std::string> records;  // "line(expression" and message, per record, in order
};

class StorageFailureTest : public CertificatesStorageTest, public testing::WithParamInterface<FailureRow> {};

TEST_P(StorageFailureTest, WritesBothLevelsAndReturnsTheCode) {
  ASSERT_EQ(m_storage->SaveCertificate(ivo::CertificateTypeZepaNdr, Server("ndr")), 0);
  m_host.tracer().Clear();
  m_host.faults().FailOperation(GetParam().operation, results::MediaError);
  EXPECT_EQ(GetParam().call(*m_storage), results::MediaError);
  std::vector<std::string> component;
  for (const std::string& text : Errors())
    if (text.rfind("CertificatesStorage::", 0) == 0) component.push_back(text);
  ASSERT_EQ(component.size(), GetParam().records.size() / 2);
  for (std::size_t i = 0; i < component.size(); ++i) {
    EXPECT_NE(component[i].find(GetParam().records[2 * i]), std::string::npos) << component[i];
    EXPECT_NE(component[i].find("(Media error)" + GetParam().records[2 * i + 1]), std::string::npos) << component[i];
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, StorageFailureTest,
    testing::Values(
        FailureRow{"SaveServer",
                   "IStorageSerializer2::Serialize",
                   [](ivo::CertificatesStorage& s) { return s.SaveCertificate(4, Server("x")); },
                   {":106(node->AppendNode(name, tools::MakeAnyStruct(GetServiceLocator(), cert)))",
                    "Cannot add add new node Siem", ":86(SaveCertificate(m_serverCertificates, type, cert))",
                    "Cannot save server certificate to the storage"}},
        FailureRow{
            "SaveClient",
            "IStorage::AppendNode",
            [](ivo::CertificatesStorage& s) { return s.SaveCertificate(2, ClientCertificate()); },
            {":106(", "Cannot add add new node ZepaSandbox", ":95(SaveCertificate(m_clientCertificates, type, cert))",
             "Cannot save client certificate to the storage"}},
        FailureRow{"GetClient",
                   "IStorage::GetNode",
                   [](ivo::CertificatesStorage& s) {
                     ClientCertificate c;
                     return s.GetCertificate(3, c);
                   },
                   {":145(", "Cannot get node ZepaNdr", ":125(GetCertificate(m_clientCertificates, type, cert))",
                    "Cannot get client certificate from storage"}},
        FailureRow{"RemoveServer",
                   "IStorage::RemoveNode",
                   [](ivo::CertificatesStorage& s) { return s.RemoveCertificate<ServerCertificate>(3); },
                   {":178(FixErrorCode(node->RemoveNode(name)))", "Cannot remove the node ZepaNdr",
                    ":161(RemoveCertificate(m_serverCertificates, type))", "Cannot server certificate from storage"}},
        FailureRow{"LoadServer",
                   "IStorage::GetNodesCount",
                   [](ivo::CertificatesStorage& s) {
                     std::vector<ServerCertificate> v;
                     return s.LoadCertificates(v);
                   },
                   {":205(node->GetNodesCount(count))", "Cannot get certificates from storage",
                    ":187(LoadCertificates(m_serverCertificates, certificates))", "Cannot load server certificates"}},
        FailureRow{"LoadClient",
                   "IStorage::GetNodesCount",
                   [](ivo::CertificatesStorage& s) {
                     std::vector<ClientCertificate> v;
                     return s.LoadCertificates(v);
                   },
                   {":205(", "Cannot get certificates from storage", ":196(", "Cannot load client certificates"}}),
    [](const testing::TestParamInfo<FailureRow>& info) { return info.param.name; });

TEST_F(CertificatesStorageTest, ListSkipsChildrenThatCannotBeRead) {
  ASSERT_EQ(m_storage->SaveCertificate(1, Server("a")), 0);
  ASSERT_EQ(m_storage->SaveCertificate(2, Server("b")), 0);
  m_host.faults().FailOperation("IStorage::GetNode/index", results::OutOfRange, 0, 1);
  std::vector<ServerCertificate> loaded;
  ASSERT_EQ(m_storage->LoadCertificates(loaded), 0);
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(loaded[0].certificate, ozo::blob_t("b", 1));
}

class AppendingStoreTest : public CertificatesStorageTest {
 protected:
  AppendingStoreTest() : CertificatesStorageTest(Options()) {}
  static host::HostOptions Options() {
    host::HostOptions options;
    options.store = host::Make<host::MemoryPersistentStorage>(std::make_shared<host::FaultInjector>(),
                                                              host::DuplicateNames::Append);
    return options;
  }
};

TEST_F(AppendingStoreTest, SavingAnExistingKeyAppendsAgainWithoutTouchingTheFirst) {
  ASSERT_EQ(m_storage->SaveCertificate(1, Server("first")), 0);
  ASSERT_EQ(m_storage->SaveCertificate(1, Server("second")), 0);
  EXPECT_EQ(ChildCount("ServerCertificates"), 2u);
  ServerCertificate read;
  ASSERT_EQ(m_storage->GetCertificate(1, read), 0);
  EXPECT_EQ(read.certificate, ozo::blob_t("first", 5));
}

struct ConstructionFailure {
  const char* name;
  host::Service missing;
  const char* operation;
  std::int32_t line;
  const char* message;
};

class StorageConstructionTest : public testing::TestWithParam<ConstructionFailure> {};

TEST_P(StorageConstructionTest, ThrowsAFailedCheckAndReleasesEverything) {
  test::RecordingHost host(host::HostOptions::Without({GetParam().missing}));
  if (*GetParam().operation) host.faults().FailOperation(GetParam().operation, results::AccessDenied);
  try {
    ivo::CertificatesStorage storage(host.locator());
    FAIL() << "constructed";
  } catch (const ozo::CheckResultFailedException& e) {
    EXPECT_STREQ(e.file(), "certificates_manager/certificates_storage");
    EXPECT_EQ(e.line(), GetParam().line);
  }
  EXPECT_NE(host.tracer().texts(300).back().find(GetParam().message), std::string::npos);
  EXPECT_EQ(ozo::detail::ModuleObjectCount().load(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, StorageConstructionTest,
                         testing::Values(ConstructionFailure{"NoRoot", host::Service::StorageRoot, "", 54,
                                                             "Cannot get ozo::IPersistentStorage interface"},
                                         ConstructionFailure{"ServerSet", host::Service::SecondaryMetaInfo,
                                                             "IStorage::AppendNode", 59,
                                                             "Failed to create the ServerCertificates node"},
                                         ConstructionFailure{"ClientSet", host::Service::SecondaryMetaInfo,
                                                             "IServiceLocator::GetInterface/0eecd30a", 54,
                                                             "Cannot get ozo::IPersistentStorage"}),
                         [](const testing::TestParamInfo<ConstructionFailure>& info) { return info.param.name; });

TEST(StorageConstruction, TheClientSetFailsAtLine64) {
  test::RecordingHost host;
  host.faults().FailOperation("IStorage::AppendNode", results::AccessDenied, 1);
  try {
    ivo::CertificatesStorage storage(host.locator());
    FAIL() << "constructed";
  } catch (const ozo::CheckResultFailedException& e) {
    EXPECT_EQ(e.line(), 64);
  }
  EXPECT_NE(host.tracer().texts(300).back().find("Failed to create the ClientCertificates node"), std::string::npos);
}

}  // namespace
