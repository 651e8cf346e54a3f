// The component's behaviour, scenario by scenario, against transcripts kept
// as data in tests/data/traces/<scenario>.txt: every trace record, result,
// returned record, event, policy question and storage lock, and the stored
// tree at the end (see scene.h). Each transcript was reviewed against the
// texts and behaviour the system must show when it was written. A scenario
// without one writes it and fails: review it before committing it, and never
// regenerate one to make a test pass.
#include "tests/support/transcript.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <typeinfo>

#include "app_core/facade/upgrade/persistent_data_upgrader.h"
#include "ozo/datetime/posix_datetime.h"
#include "ozo/error_handling/exception.h"
#include "ozo/error_handling/result_from_exception.h"
#include "ozo/module.h"
#include "tests/traces/scene.h"

namespace {

using ozo::types::variant_t;
using test::Kind;
using test::Scene;
constexpr Kind kServer = Kind::Server;
constexpr Kind kClient = Kind::Client;

struct Scenario {
  const char* name;
  std::function<void(Scene&)> prepare;  // not recorded
  std::function<void(Scene&)> act;      // recorded
};

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

class Transcripts : public testing::TestWithParam<Scenario> {};

TEST_P(Transcripts, MatchTheReviewedRecords) {
  Scene scene;
  if (GetParam().prepare) GetParam().prepare(scene);
  if (testing::Test::HasFatalFailure()) return;
  scene.Start();
  GetParam().act(scene);
  test::ExpectTranscript(scene.Finish(), std::string(CM_TRACES_DIR) + "/" + GetParam().name + ".txt");
}

ozo::blob_t Der(const char* name = "first") { return test::ValidServerDer(name); }
ozo::blob_t Container(const char* password = "pw") { return test::ClientContainer("agent", password); }

ozo::blob_t WithParams(void (*adjust)(test::CertificateParams&)) {
  test::CertificateParams params;
  adjust(params);
  return test::MakeDer(params);
}

void Create(Scene& s) { s.CreateOrFail(); }
void WithServer(Scene& s) {
  s.CreateOrFail();
  ASSERT_EQ(s.SetServer(1, Der()), 0);
}
void WithClient(Scene& s) {
  s.CreateOrFail();
  ASSERT_EQ(s.SetClient(2, Container(), "pw"), 0);
}

// A manager created, then `service` taken away from its host.
std::function<void(Scene&)> CreatedWithout(host::Service service) {
  return [service](Scene& s) {
    Create(s);
    s.m_host.Remove(service);
  };
}

ozo::ref_ptr<ozo::IStorage> Child(ozo::IStorage* parent, const char* name) {
  ozo::ref_ptr<ozo::IStorage> child;
  EXPECT_EQ(parent->AppendNode(name, child.Ref()), 0);
  return child;
}

// A record node written by hand, as a damaged or foreign store might hold it.
void StoreRaw(Scene& s, const char* set, const char* name, std::uint32_t typeId, bool withCertificate) {
  auto node = Child(Child(s.m_host.storageRoot(), set).get(), name);
  node->SetValue("$type", variant_t::FromUInt32(typeId), nullptr);
  if (withCertificate) node->SetValue("certificate", variant_t::FromBlob(test::BlobOf("x")), nullptr);
}

void Upgrade(Scene& s, ozo::IPersistentStorage* old) {
  ozo::ref_ptr<ozo::IObject> object;
  ozo::ref_ptr<app_core::facade::upgrade::IPersistentDataUpgrader> upgrader;
  const ozo::clsid_t id = app_core::facade::upgrade::ClsIdCertificatesManagerPersistentDataUpgrader;
  ASSERT_EQ(ozoCreateObject(id, s.m_host.locatorAddress(), object.Ref()), 0);
  ASSERT_EQ(ozo::QueryInterface(object.get(), upgrader), 0);
  s.Call("Upgrade", upgrader->Upgrade(old, s.m_host.store()));
}

// Each kind of exception the component may meet, converted at a boundary.
void ConvertExceptions(Scene& s) {
  const std::pair<const char*, std::function<void()>> raised[] = {
      {"ResultCode", [] { throw ozo::ResultCodeException("f", 3, ozo::results::NotFound, u"m"); }},
      {"ResultCodeSuccess", [] { throw ozo::ResultCodeException("f", 3, 0, u""); }},
      {"TimeError", [] { ozo::datetime::PosixToUtcTime(-11644473601, 0); }},
      {"PlainExceptionIgnoresItsResult",
       [] {
         ozo::Exception e("f", 5, "d", u"msg");
         e.SetInt32("ozo.result", ozo::results::NotFound);
         throw e;
       }},
      {"FrameworkRootWithEveryPropertyKind",
       [] {
         ozo::exception e("f", 6, "d");
         e.SetInt32("ozo.result", ozo::results::AccessDenied);
         e.SetUInt32("u32", 7);
         e.SetProperty("i64", ozo::PropertyKind::Int64, std::int64_t{-1});
         e.SetProperty("u64", ozo::PropertyKind::UInt64, std::uint64_t{0xABC});
         e.SetText("text", "hello");
         e.SetProperty("wide", ozo::PropertyKind::WideText, std::u16string(u"wide"));
         e.SetProperty("odd", static_cast<ozo::PropertyKind>(99), std::uint64_t{1});
         throw e;
       }},
      {"OsResult",
       [] {
         ozo::exception e("f", 6, "d");
         e.SetUInt32("os.result", 2);
         throw e;
       }},
      {"OsModuleResult",
       [] {
         ozo::exception e("f", 6, "d");
         e.SetText("os.module_result", "libx");
         throw e;
       }},
      {"WrongKindIsNoResult",
       [] {
         ozo::exception e("f", 6, "d");
         e.SetText("ozo.result", "x");
         throw e;
       }},
      {"NoData", [] { throw ozo::exception("f", 1, ozo::exception::NoData{}); }},
      {"WithoutProperties", [] { throw ozo::exception("dir/file", 12, "Something broke"); }},
      {"FailedCheck", [] { ozo::ThrowCheckFailed("ivo_tracing/tracing", 79, ozo::results::AccessDenied); }},
      {"GetInterface",
       [] {
         throw ozo::GetInterfaceException("ozo/rtl/error_handling/../objclient", 103, "Can't get interface", 0x9CCA5603,
                                          0, ozo::results::NotFound);
       }},
      {"BadAlloc", [] { throw std::bad_alloc(); }},
      {"BadCast", [] { throw std::bad_cast(); }},
      {"LengthError", [] { throw std::length_error("ozo::basic_string_t::append()"); }},
      {"OutOfRange", [] { throw std::out_of_range("range"); }},
      {"InvalidArgument", [] { throw std::invalid_argument("arg"); }},
      {"StdException", [] { throw std::runtime_error("runtime"); }},
      {"Nested",
       [] {
         try {
           throw std::out_of_range("inner");
         } catch (...) {
           std::throw_with_nested(std::runtime_error("outer"));
         }
       }},
      {"Anything", [] { throw 42; }},
  };
  for (const auto& [name, raise] : raised) {
    try {
      raise();
      s.Note(std::string(name) + ": nothing thrown");
    } catch (...) {
      s.Call(name, ozo::ResultFromCurrentException(&s.m_host.tracer(), "Operation"));
    }
  }
  s.Call("OutsideAHandler", ozo::ResultFromCurrentException(&s.m_host.tracer(), nullptr));
}

const Scenario kScenarios[] = {
    // Start-up: the stored certificates are checked, the out-of-period ones reported.
    {"construct_and_destroy", nullptr, [](Scene& s) { Create(s), s.Destroy(); }},
    {"startup_with_expired_and_undecodable",
     [](Scene& s) {
       s.StoreServer(1, test::ExpiredServerDer());
       s.StoreServer(3, test::BlobOf("not a certificate"));
       s.StoreClient(2, Container("right"), "wrong");
     },
     Create},
    {"startup_reports_servers_first",
     [](Scene& s) {
       s.StoreClient(1, test::ClientContainer("valid client", "pw"), "pw");
       s.StoreServer(4, test::NotYetValidServerDer());
       s.StoreServer(1, test::ExpiredServerDer());
     },
     Create},
    {"startup_with_a_date_before_1601",
     [](Scene& s) {
       s.StoreServer(2, WithParams([](test::CertificateParams& p) { p.notBefore = "16000101000000Z"; }));
     },
     [](Scene& s) { s.Call("Create", s.Create()); }},
    {"startup_client_set_unreadable",
     [](Scene& s) { s.m_host.faults().FailOperation("IStorage::GetNodesCount", ozo::results::MediaError, 1, 1); },
     [](Scene& s) { s.Call("Create", s.Create()); }},
    {"startup_without_publisher", [](Scene& s) { s.m_host.Remove(host::Service::EventPublisher); },
     [](Scene& s) {
       s.Call("Create", s.Create());
       s.Call("CanUnloadModule", ozoCanUnloadModule());
     }},
    // Changes made locally, under the policy's check, and by the policy.
    {"set_server_new", Create, [](Scene& s) { s.Set(kServer, 1, Der()); }},
    {"set_server_same", WithServer, [](Scene& s) { s.Set(kServer, 1, Der()); }},
    {"set_server_replacing", WithServer, [](Scene& s) { s.Set(kServer, 1, test::ValidServerPem("second")); }},
    {"set_server_out_of_period", WithServer,
     [](Scene& s) {
       for (const ozo::blob_t& blob : {test::ExpiredServerDer(), test::NotYetValidServerDer()}) {
         s.Set(kServer, 1, blob);
         s.SetPolicy(kServer, 1, blob);
       }
     }},
    {"set_server_undecodable", Create,
     [](Scene& s) {
       ozo::blob_t emptyWithStorage;
       emptyWithStorage.reserve(16);
       const ozo::blob_t der = Der();
       s.Set(kServer, 1, ozo::blob_t());
       s.Set(kServer, 1, emptyWithStorage);
       s.Set(kServer, 1, test::BlobOf("garbage"));
       s.Set(kServer, 1, ozo::blob_t(der.data(), der.size() / 2));
       s.Set(kServer, 1, WithParams([](test::CertificateParams& p) {
               p.subject = {};
               p.issuer = test::Name{{"CN", "Issuer"}};
             }));
     }},
    {"set_server_locked",
     [](Scene& s) {
       Create(s);
       s.m_host.policy().SetSettingLocked(0xAF09109F, true);  // the server certificate of type 1
     },
     [](Scene& s) {
       s.Set(kServer, 1, Der());
       s.SetPolicy(kServer, 1, Der());
       s.Remove(kServer, 1);
       s.RemovePolicy(kServer, 1);
       s.Set(kClient, 1, Container());  // the client setting of the type is not locked
     }},
    {"set_without_policy_provider", CreatedWithout(host::Service::PolicyProvider),
     [](Scene& s) {
       s.Set(kServer, 2, Der());
       s.Remove(kClient, 2);
     }},
    {"set_without_publisher", CreatedWithout(host::Service::EventPublisher),
     [](Scene& s) {
       s.Set(kServer, 1, Der());
       s.Get(kServer, 1);
       s.Remove(kServer, 1);
       s.Remove(kServer, 1);
     }},
    {"set_server_append_fails",
     [](Scene& s) {
       WithServer(s);
       s.m_host.faults().FailOperation("IStorage::AppendNode", ozo::results::MediaError);
     },
     [](Scene& s) { s.Set(kServer, 1, Der("second")); }},
    {"set_over_an_undecodable_record", [](Scene& s) { Create(s), s.StoreServer(1, test::BlobOf("garbage")); },
     [](Scene& s) {
       s.Set(kServer, 1, Der());
       s.Remove(kServer, 1);
       s.Set(kServer, 1, Der());
     }},
    {"set_client_new", Create, [](Scene& s) { s.Set(kClient, 2, Container()); }},
    {"set_client_wrong_password", Create, [](Scene& s) { s.Set(kClient, 2, Container(), "nope"); }},
    {"set_client_undecodable", Create,
     [](Scene& s) {
       test::Pkcs12Params withoutCertificate;
       withoutCertificate.withCertificate = false;
       const ozo::blob_t container = Container();
       s.Set(kClient, 1, test::MakePkcs12(withoutCertificate), "secret");
       s.Set(kClient, 1, test::BlobOf("not pkcs12"));
       s.Set(kClient, 1, ozo::blob_t());
       s.Set(kClient, 1, ozo::blob_t(container.data(), container.size() - 7));
       s.Set(kClient, 1, container, "");
       s.Set(kClient, 1, container, std::string(64 * 1024, 'p').c_str());
     }},
    {"set_client_replacing", [](Scene& s) { Create(s), s.SetClient(4, Container(""), ""); },
     [](Scene& s) { s.Set(kClient, 4, Container()); }},
    {"set_client_same_container", WithClient,
     [](Scene& s) {
       s.Set(kClient, 2, Container());
       s.Set(kClient, 2, Container(), "other");
       s.Get(kClient, 2);
     }},
    {"set_client_password_with_nul", Create,
     [](Scene& s) {
       // OpenSSL reads the password up to its first NUL; the record keeps it whole.
       const ivo::ClientCertificate record(Container(), ozo::string8_t("pw\0tail", 7));
       s.Call("Set client 1", s.manager().SetClientCertificate(1, record, test::User()));
       s.Get(kClient, 1);
     }},
    {"set_policy_client", Create, [](Scene& s) { s.SetPolicy(kClient, 3, Container()); }},
    {"invalid_type", Create, [](Scene& s) { s.Set(kServer, 9, Der()); }},
    // Reads and queries.
    {"get_server_missing", Create, [](Scene& s) { s.Get(kServer, 4); }},
    {"get_pem_of_der", WithServer, [](Scene& s) { s.GetPem(1); }},
    {"get_pem_of_pem", [](Scene& s) { Create(s), s.SetServer(2, test::ValidServerPem("pem")); },
     [](Scene& s) { s.GetPem(2); }},
    {"get_client", WithClient, [](Scene& s) { s.Get(kClient, 2); }},
    {"get_record_without_object",
     [](Scene& s) { Create(s), StoreRaw(s, "ServerCertificates", "ZepaEdr", ivo::ServerCertificate::TypeId, false); },
     [](Scene& s) {
       s.Get(kServer, 1);
       s.Set(kServer, 1, Der());
     }},
    {"get_client_record_in_server_slot",
     [](Scene& s) { Create(s), StoreRaw(s, "ServerCertificates", "ZepaEdr", ivo::ClientCertificate::TypeId, true); },
     [](Scene& s) { s.Get(kServer, 1); }},
    {"query_server", WithServer, [](Scene& s) { s.Query(kServer, 1); }},
    {"query_client_missing", Create,
     [](Scene& s) {
       s.Query(kServer, 4);
       s.Query(kClient, 3);
     }},
    {"query_client_with_a_stale_password", [](Scene& s) { s.StoreClient(1, Container("right"), "wrong"); },
     [](Scene& s) {
       Create(s);
       s.Start();
       s.Query(kClient, 1);
     }},
    {"query_hostile_subject",
     [](Scene& s) {
       Create(s);
       s.SetServer(1, WithParams([](test::CertificateParams& p) {
                     p.subject = {{"CN", "path/to \"x\""}, {"O", "Caf\xC3\xA9"}};
                   }));
     },
     [](Scene& s) { s.Query(kServer, 1); }},
    // Removals.
    {"remove_server", WithServer, [](Scene& s) { s.Remove(kServer, 1); }},
    {"remove_client_missing", Create,
     [](Scene& s) {
       s.Remove(kClient, 2);
       s.RemovePolicy(kClient, 1);
     }},
    {"remove_policy_client", WithClient, [](Scene& s) { s.RemovePolicy(kClient, 2); }},
    // The upgrade: the old installation's tree is copied into the new store.
    {"upgrade_copies", WithServer,
     [](Scene& s) {
       test::RecordingHost old;
       ASSERT_EQ(old.WriteRecord(3, ivo::ServerCertificate{Der("old")}), 0);
       Upgrade(s, old.store());
     }},
    {"upgrade_into_a_store_with_data",
     [](Scene& s) { Child(s.m_host.storageRoot(), "Existing")->SetValue("kept", variant_t::FromUInt32(7), nullptr); },
     [](Scene& s) {
       test::RecordingHost old;
       auto servers = Child(old.storageRoot(), "ServerCertificates");
       Child(servers.get(), "Siem")->SetValue("certificate", variant_t::FromString8("Siem"), nullptr);
       Child(old.storageRoot(), "ClientCertificates");
       Child(old.storageRoot(), "empty")->SetValue("", variant_t::FromString8(""), nullptr);
       Child(old.storageRoot(), "text")->SetValue("", variant_t::FromString8("unnamed"), nullptr);
       Upgrade(s, old.store());
     }},
    {"upgrade_without_old_tree", Create,
     [](Scene& s) {
       Upgrade(s, host::Make<host::MemoryPersistentStorage>(std::make_shared<host::FaultInjector>()).get());
     }},
    // The conversion of exceptions into result codes and trace records.
    {"exception_conversions", nullptr, ConvertExceptions},
};

INSTANTIATE_TEST_SUITE_P(Scenarios, Transcripts, testing::ValuesIn(kScenarios),
                         [](const testing::TestParamInfo<Scenario>& info) { return info.param.name; });

}  // namespace
