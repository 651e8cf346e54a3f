// Bad blobs and passwords through the public interface: refused with a
// failure code, nothing stored changes, nothing crashes.
#include <gtest/gtest.h>

#include <random>

#include "tests/support/manager_fixture.h"

namespace {

namespace results = ozo::results;

ozo::blob_t Random(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return test::BlobOf(bytes);
}

struct BadBlob {
  const char* name;
  ozo::blob_t (*make)();
};

class BadBlobTest : public test::ManagerTest, public testing::WithParamInterface<BadBlob> {
 protected:
  void SetUp() override {
    CreateOrFail();
    ASSERT_EQ(SetServer(1, test::ValidServerDer("kept")), 0);
    ASSERT_EQ(SetClient(1, test::ClientContainer("kept", "pw"), "pw"), 0);
  }
};

TEST_P(BadBlobTest, IsRefusedAndLeavesTheStoredCertificates) {
  const ozo::blob_t blob = GetParam().make();
  EXPECT_LT(SetServer(1, blob), 0);
  EXPECT_LT(SetClient(1, blob, "pw"), 0);
  EXPECT_LT(manager().SetPolicyServerCertificate(2, ivo::ServerCertificate{blob}), 0);
  EXPECT_NE(QueryServer(1).find("CN=kept"), std::string::npos);
  EXPECT_NE(QueryClient(1).find("CN=kept"), std::string::npos);
  ivo::ServerCertificate none;
  EXPECT_EQ(manager().GetServerCertificate(2, none), results::NotFound);
}

INSTANTIATE_TEST_SUITE_P(Table, BadBlobTest,
                         testing::Values(BadBlob{"Empty", [] { return ozo::blob_t(); }},
                                         BadBlob{"OneByte", [] { return test::BlobOf("\x30"); }},
                                         BadBlob{"TruncatedDer",
                                                 [] {
                                                   const ozo::blob_t der = test::ValidServerDer("kept");
                                                   return ozo::blob_t(der.data(), der.size() / 2);
                                                 }},
                                         BadBlob{"TruncatedContainer",
                                                 [] {
                                                   const ozo::blob_t p12 = test::ClientContainer("kept", "pw");
                                                   return ozo::blob_t(p12.data(), p12.size() - 7);
                                                 }},
                                         BadBlob{"Random4K", [] { return Random(4096, 1); }},
                                         BadBlob{"Random10MB", [] { return Random(10 * 1024 * 1024, 2); }}),
                         [](const testing::TestParamInfo<BadBlob>& info) { return info.param.name; });

class PasswordTest : public test::ManagerTest {
 protected:
  void SetUp() override { CreateOrFail(); }
};

TEST_F(PasswordTest, EmptyAndHugePasswordsThatDoNotOpenTheContainerAreRefused) {
  const ozo::blob_t container = test::ClientContainer("client", "pw");
  EXPECT_EQ(SetClient(1, container, ""), results::ExceptionHasNoResultCode);
  const std::string huge(64 * 1024, 'p');
  EXPECT_EQ(manager().SetClientCertificate(1, ivo::ClientCertificate(container, huge.c_str()), test::User()),
            results::ExceptionHasNoResultCode);
  ivo::ClientCertificate none;
  EXPECT_EQ(manager().GetClientCertificate(1, none), results::NotFound);
}

TEST_F(PasswordTest, APasswordReachesOpenSslUpToItsFirstNulByte) {
  // OpenSSL takes the password as a C string: "pw\0tail" opens a container
  // protected by "pw", and the record keeps all seven characters.
  const ozo::string8_t withNul("pw\0tail", 7);
  ASSERT_EQ(manager().SetClientCertificate(1, ivo::ClientCertificate(test::ClientContainer("c", "pw"), withNul),
                                           test::User()),
            0);
  ivo::ClientCertificate stored;
  ASSERT_EQ(manager().GetClientCertificate(1, stored), 0);
  EXPECT_EQ(stored.password.size(), 7u);
}

TEST_F(PasswordTest, OutRecordsHoldingDataAreReplaced) {
  ASSERT_EQ(SetServer(1, test::ValidServerDer()), 0);
  ASSERT_EQ(SetClient(1, test::ClientContainer("c", "pw"), "pw"), 0);
  ivo::ServerCertificate server{test::BlobOf("old contents")};
  ASSERT_EQ(manager().GetServerCertificate(1, server), 0);
  EXPECT_EQ(server.certificate, test::ValidServerDer());
  ivo::ClientCertificate client(test::BlobOf("old"), "a long old password held by the caller");
  ASSERT_EQ(manager().GetClientCertificate(1, client), 0);
  EXPECT_EQ(client.password, std::string_view("pw"));
}

// A document is assigned into the caller's string, which keeps its allocator.
TEST_F(PasswordTest, QueriesKeepTheAllocatorOfTheOutString) {
  ASSERT_EQ(SetServer(1, test::ValidServerDer()), 0);
  ozo::string8_t json(&m_host.allocator());
  ASSERT_EQ(manager().QueryServerCertificate(1, json), 0);
  EXPECT_EQ(json.allocator(), &m_host.allocator());
  EXPECT_NE(json.view().find("CN=server"), std::string_view::npos);
}

}  // namespace
