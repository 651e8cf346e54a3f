#include <gtest/gtest.h>

#include "tests/support/manager_fixture.h"

namespace {

using test::ManagerTest;
namespace results = ozo::results;

class ManagerReadTest : public ManagerTest {
 protected:
  void SetUp() override { CreateOrFail(); }
};

TEST_F(ManagerReadTest, GetReturnsTheRecordAsStoredOrNotFound) {
  ivo::ServerCertificate server;
  EXPECT_EQ(manager().GetServerCertificate(ivo::CertificateTypeMiru, server), results::NotFound);
  const ozo::blob_t pem = test::ValidServerPem();
  ASSERT_EQ(SetServer(ivo::CertificateTypeMiru, pem), 0);
  ASSERT_EQ(manager().GetServerCertificate(ivo::CertificateTypeMiru, server), 0);
  EXPECT_EQ(server.certificate, pem);
  const ozo::blob_t container = test::ClientContainer("client", "secret");
  ASSERT_EQ(SetClient(ivo::CertificateTypeMiru, container, "secret"), 0);
  ivo::ClientCertificate client;
  ASSERT_EQ(manager().GetClientCertificate(ivo::CertificateTypeMiru, client), 0);
  EXPECT_EQ(client.certificate, container);
  EXPECT_EQ(client.password, std::string_view("secret"));
}

TEST_F(ManagerReadTest, PemOfADerRecordIsConvertedAndOfAPemRecordIsTheStoredBytes) {
  ASSERT_EQ(SetServer(1, test::ValidServerDer("der")), 0);
  ASSERT_EQ(SetServer(2, test::ValidServerPem("pem")), 0);
  ivo::ServerCertificate fromDer, fromPem;
  ASSERT_EQ(manager().GetServerPemCertificate(1, fromDer), 0);
  ASSERT_EQ(manager().GetServerPemCertificate(2, fromPem), 0);
  EXPECT_EQ(test::StringOf(fromDer.certificate).rfind("-----BEGIN CERTIFICATE-----\n", 0), 0u);
  EXPECT_EQ(fromPem.certificate, test::ValidServerPem("pem"));
}

TEST_F(ManagerReadTest, QueriesAnswerFalseWithNothingStoredAndLeaveTheText) {
  ozo::string8_t json("unchanged");
  EXPECT_EQ(manager().QueryServerCertificate(4, json), results::False);
  EXPECT_EQ(manager().QueryClientCertificate(4, json), results::False);
  EXPECT_EQ(json, std::string_view("unchanged"));
}

TEST_F(ManagerReadTest, AStoredPasswordThatNoLongerOpensTheContainerFailsTheQuery) {
  StoreClient(1, test::ClientContainer("client", "right"), "wrong");
  ozo::string8_t json("unchanged");
  EXPECT_EQ(manager().QueryClientCertificate(1, json), results::ExceptionHasNoResultCode);
  EXPECT_EQ(json, std::string_view("unchanged"));
  EXPECT_EQ(Errors().back().rfind("CertificatesManager::QueryClientCertificate 0x80000151 (Exception has no result "
                                  "code). At certificates_manager/certificates_manager(598) ",
                                  0),
            0u)
      << Errors().back();
}

TEST_F(ManagerReadTest, QueriesAndReadsHoldNoStorageLockWhileDecoding) {
  ASSERT_EQ(SetServer(1, test::ValidServerDer()), 0);
  m_host.storageMutex().ClearRecord();
  ASSERT_FALSE(QueryServer(1).empty());
  ivo::ServerCertificate pem;
  ASSERT_EQ(manager().GetServerPemCertificate(1, pem), 0);
  EXPECT_EQ(m_host.storageMutex().acquisitions().size(), 2u);  // one shared read each
  EXPECT_EQ(m_host.storageMutex().nestedAcquisitions(), 0u);
}

}  // namespace
