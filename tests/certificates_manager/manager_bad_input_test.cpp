// Bad blobs through the public interface: refused with a failure code,
// nothing stored changes, nothing crashes. Bad passwords are in the
// transcripts.
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

}  // namespace
