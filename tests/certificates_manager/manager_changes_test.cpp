#include <gtest/gtest.h>

#include "tests/support/manager_fixture.h"

namespace {

using test::ManagerTest;
namespace results = ozo::results;

class ManagerChangeTest : public ManagerTest {
 protected:
  void SetUp() override {
    CreateOrFail();
    m_host.tracer().Clear();
  }
};

TEST_F(ManagerChangeTest, SettingTheSameServerBlobTwiceChangesOnce) {
  EXPECT_EQ(SetServer(1, test::ValidServerDer()), 0);
  EXPECT_EQ(SetServer(1, test::ValidServerDer()), results::False);
  EXPECT_EQ(EventTypes(), std::vector<std::uint32_t>{155});
  EXPECT_EQ(Events()[0].initiator.kind, 1u);
  ASSERT_TRUE(Events()[0].initiator.details.has_value());
  EXPECT_EQ(Events()[0].initiator.details->id, 7u);
  EXPECT_EQ(Events()[0].initiator.details->name, std::u16string_view(u"admin"));
}

TEST_F(ManagerChangeTest, ReplacingPublishesRemovedByTheProductThenAddedByTheCaller) {
  ASSERT_EQ(SetServer(3, test::ValidServerDer("old")), 0);
  ASSERT_EQ(SetServer(3, test::ValidServerDer("new")), 0);
  ASSERT_EQ(EventTypes(), (std::vector<std::uint32_t>{223, 224, 223}));
  EXPECT_EQ(Events()[1].initiator.kind, 2u);
  EXPECT_FALSE(Events()[1].initiator.details.has_value());
  EXPECT_EQ(Events()[1].fields[0].data.string8(), std::string_view("CN=old, O=Test Org"));
  EXPECT_EQ(Events()[2].initiator.kind, 1u);
  EXPECT_EQ(Events()[2].fields[0].data.string8(), std::string_view("CN=new, O=Test Org"));
}

TEST_F(ManagerChangeTest, AnotherClientRecordReplacesTheStoredOne) {
  ASSERT_EQ(SetClient(4, test::ClientContainer("client", ""), ""), 0);
  ASSERT_EQ(SetClient(4, test::ClientContainer("client", "pw"), "pw"), 0);
  EXPECT_EQ(EventTypes(), (std::vector<std::uint32_t>{230, 231, 230}));
  EXPECT_EQ(Events()[1].initiator.kind, 2u);
}

TEST_F(ManagerChangeTest, TheSameContainerWithAPasswordThatDoesNotOpenItIsRefused) {
  const ozo::blob_t container = test::ClientContainer("client", "pw");
  ASSERT_EQ(SetClient(4, container, "pw"), 0);
  EXPECT_EQ(SetClient(4, container, "pw"), ozo::results::False);
  EXPECT_EQ(SetClient(4, container, "other"), ozo::results::ExceptionHasNoResultCode);
  ivo::ClientCertificate stored;
  ASSERT_EQ(manager().GetClientCertificate(4, stored), 0);
  EXPECT_EQ(stored.password, std::string_view("pw"));
  EXPECT_EQ(EventTypes(), std::vector<std::uint32_t>{230});
}

struct OutOfPeriod {
  const char* name;
  ozo::blob_t (*blob)();
};

class OutOfPeriodTest : public ManagerChangeTest, public testing::WithParamInterface<OutOfPeriod> {};

TEST_P(OutOfPeriodTest, IsRefusedAndTheStoredCertificateStays) {
  ASSERT_EQ(SetServer(1, test::ValidServerDer()), 0);
  EXPECT_EQ(SetServer(1, GetParam().blob()), results::CertificateOutOfValidityPeriod);
  EXPECT_EQ(manager().SetPolicyServerCertificate(1, ivo::ServerCertificate{GetParam().blob()}),
            results::CertificateOutOfValidityPeriod);
  ivo::ServerCertificate stored;
  ASSERT_EQ(manager().GetServerCertificate(1, stored), 0);
  EXPECT_EQ(stored.certificate, test::ValidServerDer());
  EXPECT_EQ(EventTypes(), std::vector<std::uint32_t>{155});
}

INSTANTIATE_TEST_SUITE_P(Table, OutOfPeriodTest,
                         testing::Values(OutOfPeriod{"Ended", test::ExpiredServerDer},
                                         OutOfPeriod{"NotBegun", test::NotYetValidServerDer}),
                         [](const testing::TestParamInfo<OutOfPeriod>& info) { return info.param.name; });

TEST_F(ManagerChangeTest, ALockedPolicyRefusesLocalChangesButNotThePolicysOwn) {
  m_host.policy().SetSettingLocked(0xAF09109F, true);  // server certificate of type 1
  EXPECT_EQ(SetServer(1, test::ValidServerDer()), results::AccessDenied);
  EXPECT_NE(Errors().back().find(":395(CanBeChangedInPolicyTerms<T>(type)),(OZO_SUCCEEDED(_result)) failed: result = "
                                 "0x80000045 (Access denied)"),
            std::string::npos);
  EXPECT_TRUE(Events().empty());
  EXPECT_EQ(manager().SetPolicyServerCertificate(1, ivo::ServerCertificate{test::ValidServerDer()}), 0);
  ASSERT_EQ(EventTypes(), std::vector<std::uint32_t>{155});
  EXPECT_EQ(Events()[0].initiator.kind, 0u);
  EXPECT_EQ(RemoveServer(1), results::AccessDenied);
  EXPECT_EQ(manager().RemovePolicyServerCertificate(1), 0);
  // The client setting of the same type is not locked.
  EXPECT_EQ(SetClient(1, test::ClientContainer("c", "p"), "p"), 0);
  const auto queries = m_host.policy().queries();
  ASSERT_EQ(queries.size(), 3u);  // the policy operations never asked
  EXPECT_EQ(queries[0].values, (std::vector<std::pair<std::string, std::string>>{{"Certificate", ""}}));
  EXPECT_FALSE(queries[0].dependenciesPresent);
  EXPECT_FALSE(queries[0].anyFlagSet);
  EXPECT_EQ(queries[2].settingId, 0xED92BD79u);
}

TEST_F(ManagerChangeTest, WithoutAPolicyProviderEveryLocalChangeIsRefused) {
  m_host.Remove(host::Service::PolicyProvider);
  EXPECT_EQ(SetServer(2, test::ValidServerDer()), results::InterfaceNotSupported);
  const auto errors = Errors();
  ASSERT_GE(errors.size(), 2u);
  EXPECT_NE(errors[errors.size() - 2].find(":312(GetInterface(GetServiceLocator(), policy.Ref()))"), std::string::npos);
  EXPECT_NE(errors.back().find(":395("), std::string::npos);
  EXPECT_EQ(RemoveClient(2), results::InterfaceNotSupported);
  EXPECT_NE(Errors().back().find(":513("), std::string::npos);
}

TEST_F(ManagerChangeTest, RemovingNothingIsFalseWithoutEvents) {
  EXPECT_EQ(RemoveServer(1), results::False);
  EXPECT_EQ(manager().RemovePolicyClientCertificate(1), results::False);
  EXPECT_TRUE(Events().empty());
}

TEST_F(ManagerChangeTest, RemovingPublishesTheRemovedEventWithTheCallersInitiator) {
  ASSERT_EQ(SetClient(2, test::ClientContainer("c", "p"), "p"), 0);
  EXPECT_EQ(RemoveClient(2), 0);
  EXPECT_EQ(EventTypes(), (std::vector<std::uint32_t>{205, 206}));
  EXPECT_EQ(Events()[1].initiator.kind, 1u);
  ivo::ClientCertificate gone;
  EXPECT_EQ(manager().GetClientCertificate(2, gone), results::NotFound);
}

TEST_F(ManagerChangeTest, AnUndecodableStoredCertificateIsNotReplacedButIsClearedByRemove) {
  StoreServer(1, test::BlobOf("garbage"));
  EXPECT_EQ(SetServer(1, test::ValidServerDer()), results::ExceptionHasNoResultCode);
  EXPECT_NE(Errors().back().find(":434(ParseCertificate(current, *oldCertificate))"), std::string::npos);
  EXPECT_EQ(RemoveServer(1), results::ExceptionHasNoResultCode);
  EXPECT_NE(Errors().back().find(":542(ParseCertificate(cert, certificate))"), std::string::npos);
  EXPECT_TRUE(Events().empty());
  EXPECT_EQ(SetServer(1, test::ValidServerDer()), 0);
  EXPECT_EQ(EventTypes(), std::vector<std::uint32_t>{155});
}

TEST_F(ManagerChangeTest, ANewRecordThatCannotBeDecodedChangesNothing) {
  EXPECT_EQ(SetServer(1, test::BlobOf("garbage")), results::ExceptionHasNoResultCode);
  EXPECT_NE(Errors().back().find(":418(ParseCertificate(cert, newCertificate))"), std::string::npos);
  EXPECT_EQ(SetClient(1, test::ClientContainer("c", "right"), "wrong"), results::ExceptionHasNoResultCode);
  ivo::ServerCertificate none;
  EXPECT_EQ(manager().GetServerCertificate(1, none), results::NotFound);
}

TEST_F(ManagerChangeTest, AMissingPublisherAfterTheChangeIsReportedButTheChangeStays) {
  m_host.Remove(host::Service::EventPublisher);
  EXPECT_EQ(SetServer(1, test::ValidServerDer()), results::InterfaceNotSupported);
  EXPECT_EQ(Errors().back().rfind("CertificatesManager::SetCertificateInternal 0x80000001 (Interface not supported). "
                                  "At certificates_manager/certificates_manager(278) ",
                                  0),
            0u)
      << Errors().back();
  ivo::ServerCertificate stored;
  EXPECT_EQ(manager().GetServerCertificate(1, stored), 0);
  EXPECT_EQ(RemoveServer(1), results::InterfaceNotSupported);
  EXPECT_EQ(manager().GetServerCertificate(1, stored), results::NotFound);
  // The mutex was released on both paths: the manager still answers.
  EXPECT_EQ(RemoveServer(1), results::False);
}

}  // namespace
