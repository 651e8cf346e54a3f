// The component's trace, record by record, for each scenario: an operation,
// some with a host call failed. The expected records are transcripts kept as
// data in tests/data/traces/<scenario>.txt, each reviewed against the
// system's specified texts when it was written. A scenario without a
// transcript writes one and fails: review it before committing it, and never
// regenerate one to make a test pass.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "app_core/facade/upgrade/persistent_data_upgrader.h"
#include "ozo/module.h"
#include "tests/support/manager_fixture.h"

namespace {

using test::ManagerTest;

struct Scenario {
  const char* name;
  std::function<void(ManagerTest&)> prepare;  // not recorded
  std::function<void(ManagerTest&)> act;      // recorded
};

// One record a line: "[level] text", the text's own line breaks as "\n   ",
// what varies with the build, the OpenSSL release or the test certificates'
// fresh keys (a call stack's frames, OpenSSL's error strings, digests) as
// "<frames>", "<openssl>" and "<digest>".
std::string Transcript(const std::vector<host::TraceLine>& lines) {
  static const std::regex kFrames("Call stack:\n[^]*$");
  static const std::regex kOpenSslError("error:[0-9A-F]{8}:[^\n]*");
  static const std::regex kDigest("([0-9A-F]{2} ){19,}[0-9A-F]{2}");
  std::ostringstream out;
  for (const host::TraceLine& line : lines) {
    std::string text = std::regex_replace(line.text, kFrames, "Call stack:\n<frames>");
    text = std::regex_replace(text, kOpenSslError, "error:<openssl>");
    text = std::regex_replace(text, kDigest, "<digest>");
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 5) text.replace(at, 1, "\n    ");
    out << "[" << line.level << "] " << text << "\n";
  }
  return out.str();
}

class TranscriptTest : public ManagerTest, public testing::WithParamInterface<Scenario> {
 public:
  void TestBody() override {}
};

class Transcripts : public testing::TestWithParam<Scenario> {};

TEST_P(Transcripts, MatchTheReviewedRecords) {
  TranscriptTest fixture;
  if (GetParam().prepare) GetParam().prepare(fixture);
  fixture.m_host.tracer().Clear();
  GetParam().act(fixture);
  const std::string actual = Transcript(fixture.m_host.tracer().lines());
  const std::string path = std::string(CM_TRACES_DIR) + "/" + GetParam().name + ".txt";
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::ofstream(path, std::ios::binary) << actual;
    FAIL() << "no transcript: wrote " << path << "; review it against the specified texts";
  }
  const std::string expected((std::istreambuf_iterator<char>(file)), {});
  EXPECT_EQ(actual, expected) << "the records of " << GetParam().name << " differ from " << path;
}

void Create(ManagerTest& t) { t.CreateOrFail(); }
void WithServer(ManagerTest& t) {
  t.CreateOrFail();
  ASSERT_EQ(t.SetServer(1, test::ValidServerDer("first")), 0);
}
void WithClient(ManagerTest& t) {
  t.CreateOrFail();
  ASSERT_EQ(t.SetClient(2, test::ClientContainer("agent", "pw"), "pw"), 0);
}

ozo::result_t Upgrade(ManagerTest& t, ozo::IPersistentStorage* old) {
  ozo::ref_ptr<ozo::IObject> object;
  ozo::ref_ptr<app_core::facade::upgrade::IPersistentDataUpgrader> upgrader;
  const ozo::clsid_t id = app_core::facade::upgrade::ClsIdCertificatesManagerPersistentDataUpgrader;
  if (ozo::Failed(ozoCreateObject(id, t.m_host.locatorAddress(), object.Ref()))) return ozo::results::Unexpected;
  EXPECT_EQ(ozo::QueryInterface(object.get(), upgrader), 0);
  return upgrader->Upgrade(old, t.m_host.store());
}

const Scenario kScenarios[] = {
    {"construct_and_destroy", nullptr, [](ManagerTest& t) { Create(t), t.Destroy(); }},
    {"startup_with_expired_and_undecodable",
     [](ManagerTest& t) {
       t.StoreServer(1, test::ExpiredServerDer());
       t.StoreServer(3, test::BlobOf("not a certificate"));
       t.StoreClient(2, test::ClientContainer("agent", "right"), "wrong");
     },
     Create},
    {"startup_client_set_unreadable",
     [](ManagerTest& t) { t.m_host.faults().FailOperation("IStorage::GetNodesCount", ozo::results::MediaError, 1, 1); },
     [](ManagerTest& t) { EXPECT_EQ(t.Create(), ozo::results::MediaError); }},
    {"set_server_new", Create, [](ManagerTest& t) { t.SetServer(1, test::ValidServerDer("first")); }},
    {"set_server_same", WithServer, [](ManagerTest& t) { t.SetServer(1, test::ValidServerDer("first")); }},
    {"set_server_replacing", WithServer, [](ManagerTest& t) { t.SetServer(1, test::ValidServerPem("second")); }},
    {"set_server_expired", Create, [](ManagerTest& t) { t.SetServer(1, test::ExpiredServerDer()); }},
    {"set_server_not_yet_valid", Create, [](ManagerTest& t) { t.SetServer(4, test::NotYetValidServerDer()); }},
    {"set_server_not_a_certificate", Create, [](ManagerTest& t) { t.SetServer(1, test::BlobOf("garbage")); }},
    {"set_server_locked",
     [](ManagerTest& t) {
       Create(t);
       t.m_host.policy().SetSettingLocked(0xAF09109F, true);
     },
     [](ManagerTest& t) { t.SetServer(1, test::ValidServerDer()); }},
    {"set_server_append_fails",
     [](ManagerTest& t) {
       WithServer(t);
       t.m_host.faults().FailOperation("IStorage::AppendNode", ozo::results::MediaError);
     },
     [](ManagerTest& t) { t.SetServer(1, test::ValidServerDer("second")); }},
    {"set_client_new", Create, [](ManagerTest& t) { t.SetClient(2, test::ClientContainer("agent", "pw"), "pw"); }},
    {"set_client_wrong_password", Create,
     [](ManagerTest& t) { t.SetClient(2, test::ClientContainer("agent", "pw"), "nope"); }},
    {"set_policy_client", Create,
     [](ManagerTest& t) {
       t.manager().SetPolicyClientCertificate(3, ivo::ClientCertificate(test::ClientContainer("agent", "pw"), "pw"));
     }},
    {"get_server_missing", Create,
     [](ManagerTest& t) {
       ivo::ServerCertificate record;
       t.manager().GetServerCertificate(4, record);
     }},
    {"get_pem_of_der", WithServer,
     [](ManagerTest& t) {
       ivo::ServerCertificate record;
       t.manager().GetServerPemCertificate(1, record);
     }},
    {"get_client", WithClient,
     [](ManagerTest& t) {
       ivo::ClientCertificate record;
       t.manager().GetClientCertificate(2, record);
     }},
    {"query_server", WithServer, [](ManagerTest& t) { t.QueryServer(1); }},
    {"query_client_missing", Create, [](ManagerTest& t) { t.QueryClient(3); }},
    {"remove_server", WithServer, [](ManagerTest& t) { t.RemoveServer(1); }},
    {"remove_client_missing", Create, [](ManagerTest& t) { t.RemoveClient(2); }},
    {"remove_policy_client", WithClient, [](ManagerTest& t) { t.manager().RemovePolicyClientCertificate(2); }},
    {"invalid_type", Create, [](ManagerTest& t) { t.SetServer(9, test::ValidServerDer()); }},
    {"upgrade_copies", WithServer,
     [](ManagerTest& t) {
       test::RecordingHost old;
       ASSERT_EQ(old.WriteRecord(3, ivo::ServerCertificate{test::ValidServerDer("old")}), 0);
       EXPECT_EQ(Upgrade(t, old.store()), 0);
     }},
    {"upgrade_without_old_tree", Create,
     [](ManagerTest& t) {
       ozo::ref_ptr<ozo::IPersistentStorage> empty =
           host::Make<host::MemoryPersistentStorage>(std::make_shared<host::FaultInjector>());
       EXPECT_EQ(Upgrade(t, empty.get()), ozo::results::False);
     }},
};

INSTANTIATE_TEST_SUITE_P(Scenarios, Transcripts, testing::ValuesIn(kScenarios),
                         [](const testing::TestParamInfo<Scenario>& info) { return info.param.name; });

}  // namespace
