#include <gtest/gtest.h>

#include "ozo/module.h"
#include "tests/support/manager_fixture.h"

namespace {

using test::ManagerTest;
namespace results = ozo::results;

TEST_F(ManagerTest, StartsOnAnEmptyStoreAsksForThePublisherAndPublishesNothing) {
  CreateOrFail();
  EXPECT_TRUE(Events().empty());
  const auto journal = m_host.faults().journal();
  EXPECT_NE(std::find(journal.begin(), journal.end(), "IServiceLocator::GetInterface/de3a4e4a"), journal.end());
  EXPECT_EQ(Infos().front(), "CertificatesStorage::CertificatesStorage() ");
  EXPECT_NE(std::find(Infos().begin(), Infos().end(), "CertificatesManager::CertificatesManager() <- "), Infos().end());
  EXPECT_EQ(ozoCanUnloadModule(), 1);
}

TEST_F(ManagerTest, ReportsExpiredAndNotYetValidStoredCertificatesServerFirstAndKeepsThem) {
  StoreClient(1, test::ClientContainer("future client", "pw"), "pw");  // valid: no event
  StoreServer(4, test::NotYetValidServerDer());
  StoreServer(1, test::ExpiredServerDer());
  CreateOrFail();
  ASSERT_EQ(EventTypes(), (std::vector<std::uint32_t>{146, 146}));
  EXPECT_EQ(Events()[0].fields[0].data.string8(), std::string_view("CN=future, O=Test Org"));
  EXPECT_EQ(Events()[1].fields[0].data.string8(), std::string_view("CN=expired, O=Test Org"));
  EXPECT_EQ(Events()[0].initiator.kind, 2u);
  EXPECT_FALSE(Events()[0].initiator.details.has_value());
  ivo::ServerCertificate kept;
  EXPECT_EQ(manager().GetServerCertificate(ivo::CertificateTypeZepaEdr, kept), 0);
  EXPECT_EQ(kept.certificate, test::ExpiredServerDer());
}

TEST_F(ManagerTest, AStoredRecordThatCannotBeDecodedIsTracedAndSkipped) {
  StoreServer(3, test::BlobOf("not a certificate"));
  StoreClient(3, test::ClientContainer("client", "right"), "wrong");
  CreateOrFail();
  EXPECT_TRUE(Events().empty());
  std::vector<std::string> parseFailures;
  for (const std::string& error : Errors())
    if (error.rfind("CertificatesManager::certificates_manager/certificates_manager:6", 0) == 0)
      parseFailures.push_back(error);
  ASSERT_EQ(parseFailures.size(), 2u);
  EXPECT_NE(parseFailures[0].find(":615(ParseServerCertificate(GetTracer(), blob, out))"), std::string::npos);
  EXPECT_NE(parseFailures[0].find("(Exception has no result code)Cannot parse server certificate"), std::string::npos);
  EXPECT_NE(parseFailures[1].find(":609(ParseClientCertificate(GetTracer(), blob, cert.password, out))"),
            std::string::npos);
}

TEST_F(ManagerTest, WithoutAnEventPublisherConstructionFailsAndLeavesNothingAlive) {
  m_host.Remove(host::Service::EventPublisher);
  EXPECT_EQ(Create(), results::InterfaceNotSupported);
  EXPECT_EQ(ozoCanUnloadModule(), 0);
  const auto errors = Errors();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_NE(errors[0].find(":278(GetInterface(GetServiceLocator(), publisher.Ref()))"), std::string::npos);
  EXPECT_NE(errors[0].find("Cannot get IEventPublisher interface"), std::string::npos);
  // The factory's conversion, on the host's tracer: no prefix, no context.
  EXPECT_EQ(
      errors[1].rfind("0x80000001 (Interface not supported). At certificates_manager/certificates_manager(278) ", 0),
      0u);
}

TEST_F(ManagerTest, WithoutATracerOrStorageConstructionFails) {
  m_host.Remove(host::Service::StorageRoot);
  EXPECT_EQ(Create(), results::InterfaceNotSupported);
  m_host.Restore(host::Service::StorageRoot);
  m_host.Remove(host::Service::Tracer);
  EXPECT_EQ(Create(), results::InterfaceNotSupported);
  EXPECT_EQ(ozoCanUnloadModule(), 0);
}

}  // namespace
