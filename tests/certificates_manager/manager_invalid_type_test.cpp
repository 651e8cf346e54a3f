#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "tests/support/manager_fixture.h"

namespace {

using Call = std::function<ozo::result_t(ivo::ICertificatesManager&, ivo::CertificateType)>;

struct Operation {
  const char* name;
  Call call;
};

struct InvalidTypeCase {
  Operation operation;
  ivo::CertificateType type;
};

const Operation kOperations[] = {
    {"SetServerCertificate",
     [](auto& m, auto t) {
       return m.SetServerCertificate(t, ivo::ServerCertificate{test::ValidServerDer()}, test::User());
     }},
    {"SetClientCertificate",
     [](auto& m, auto t) {
       return m.SetClientCertificate(t, ivo::ClientCertificate(test::ClientContainer("c", "p"), "p"), test::User());
     }},
    {"SetPolicyServerCertificate",
     [](auto& m, auto t) { return m.SetPolicyServerCertificate(t, ivo::ServerCertificate{test::ValidServerDer()}); }},
    {"SetPolicyClientCertificate",
     [](auto& m, auto t) {
       return m.SetPolicyClientCertificate(t, ivo::ClientCertificate(test::ClientContainer("c", "p"), "p"));
     }},
    {"GetServerCertificate",
     [](auto& m, auto t) {
       ivo::ServerCertificate out;
       return m.GetServerCertificate(t, out);
     }},
    {"GetServerPemCertificate",
     [](auto& m, auto t) {
       ivo::ServerCertificate out;
       return m.GetServerPemCertificate(t, out);
     }},
    {"GetClientCertificate",
     [](auto& m, auto t) {
       ivo::ClientCertificate out;
       return m.GetClientCertificate(t, out);
     }},
    {"RemoveServerCertificate", [](auto& m, auto t) { return m.RemoveServerCertificate(t, test::User()); }},
    {"RemoveClientCertificate", [](auto& m, auto t) { return m.RemoveClientCertificate(t, test::User()); }},
    {"RemovePolicyServerCertificate", [](auto& m, auto t) { return m.RemovePolicyServerCertificate(t); }},
    {"RemovePolicyClientCertificate", [](auto& m, auto t) { return m.RemovePolicyClientCertificate(t); }},
    {"QueryServerCertificate",
     [](auto& m, auto t) {
       ozo::string8_t out;
       return m.QueryServerCertificate(t, out);
     }},
    {"QueryClientCertificate",
     [](auto& m, auto t) {
       ozo::string8_t out;
       return m.QueryClientCertificate(t, out);
     }},
};

// Whether the host saw any call apart from trace records.
bool OnlyTraced(const std::vector<std::string>& journal) {
  return std::all_of(journal.begin(), journal.end(),
                     [](const std::string& call) { return call.rfind("ITracer::", 0) == 0; });
}

std::vector<InvalidTypeCase> AllCases() {
  std::vector<InvalidTypeCase> cases;
  for (const Operation& operation : kOperations)
    for (ivo::CertificateType type : {0u, 5u, 0xFFFFFFFFu}) cases.push_back({operation, type});
  return cases;
}

void PrintTo(const InvalidTypeCase& c, std::ostream* out) { *out << c.operation.name << " " << c.type; }

class InvalidTypeTest : public test::ManagerTest, public testing::WithParamInterface<InvalidTypeCase> {
 protected:
  void SetUp() override { CreateOrFail(); }
};

TEST_P(InvalidTypeTest, IsRefusedAfterTheEntryRecordAndBeforeAnyService) {
  m_host.faults().Reset();
  m_host.tracer().Clear();
  EXPECT_EQ(GetParam().operation.call(manager(), GetParam().type), ozo::results::InvalidArgument);
  EXPECT_TRUE(OnlyTraced(m_host.faults().journal()));
  EXPECT_TRUE(Events().empty());
  const std::string name = GetParam().type == 0 ? "unknown" : "invalid";
  EXPECT_EQ(Infos(), std::vector<std::string>{"CertificatesManager::" + std::string(GetParam().operation.name) +
                                              "() Certificate type: " + name});
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_NE(Errors()[0].find("Invalid certificate type " + std::to_string(GetParam().type)), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(AllOperations, InvalidTypeTest, testing::ValuesIn(AllCases()),
                         [](const testing::TestParamInfo<InvalidTypeCase>& info) {
                           return std::string(info.param.operation.name) + "_" + std::to_string(info.param.type);
                         });

}  // namespace
