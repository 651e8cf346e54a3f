// The component's behaviour, scenario by scenario, kept as data in
// tests/data/traces/<scenario>.txt in the form of cram tests: an indented
// "% " line prepares the scene unrecorded, an indented "$ " line is an
// operation, and the indented lines after it are what it wrote down (see
// scene.h): trace records, its result and what it returned, events, policy
// questions and storage locks. The stored tree ends the transcript. Lines
// that are not indented are commentary. Each scenario is run afresh and
// compared with its file whole; the files were reviewed against the texts
// and behaviour the system must show when they were written.
#include "tests/support/transcript.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iomanip>
#include <map>
#include <new>
#include <sstream>
#include <stdexcept>
#include <typeinfo>

#include "app_core/facade/upgrade/persistent_data_upgrader.h"
#include "ozo/datetime/posix_datetime.h"
#include "ozo/error_handling/exception.h"
#include "ozo/error_handling/result_from_exception.h"
#include "ozo/module.h"
#include "tests/support/process.h"
#include "tests/traces/scene.h"

namespace {

using ozo::types::variant_t;
using test::Kind;
using test::Scene;

test::CertificateParams Params(void (*adjust)(test::CertificateParams&)) {
  test::CertificateParams params;
  adjust(params);
  return params;
}

// A blob named in a scenario: der:NAME, pem:NAME, p12:PASSWORD[:NAME],
// text:BYTES, or one of the named samples below.
ozo::blob_t Blob(const std::string& spec) {
  const std::size_t colon = spec.find(':');
  const std::string kind = spec.substr(0, colon), arg = colon == std::string::npos ? "" : spec.substr(colon + 1);
  if (kind == "der") return test::ValidServerDer(arg);
  if (kind == "pem") return test::ValidServerPem(arg);
  if (kind == "text") return test::BlobOf(arg);
  if (kind == "p12") {
    const std::size_t name = arg.find(':');
    return test::ClientContainer(name == std::string::npos ? "agent" : arg.substr(name + 1), arg.substr(0, name));
  }
  static const std::map<std::string, std::function<ozo::blob_t()>> kNamed = {
      {"expired", test::ExpiredServerDer},
      {"not-yet-valid", test::NotYetValidServerDer},
      {"empty", [] { return ozo::blob_t(); }},
      {"empty-with-capacity",
       [] {
         ozo::blob_t blob;
         blob.reserve(16);
         return blob;
       }},
      {"half-der",
       [] {
         const ozo::blob_t der = test::ValidServerDer("first");
         return ozo::blob_t(der.data(), der.size() / 2);
       }},
      {"cut-p12",
       [] {
         const ozo::blob_t container = test::ClientContainer("agent", "pw");
         return ozo::blob_t(container.data(), container.size() - 7);
       }},
      {"p12-without-certificate",
       [] {
         test::Pkcs12Params params;
         params.withCertificate = false;
         return test::MakePkcs12(params);
       }},
      {"der-from-1600", [] { return test::MakeDer(Params([](auto& p) { p.notBefore = "16000101000000Z"; })); }},
      {"der-without-subject",
       [] {
         return test::MakeDer(Params([](auto& p) {
           p.subject = {};
           p.issuer = test::Name{{"CN", "Issuer"}};
         }));
       }},
      {"der-hostile-subject",
       [] {
         return test::MakeDer(Params([](auto& p) { p.subject = {{"CN", "path/to \"x\""}, {"O", "Caf\xC3\xA9"}}; }));
       }},
  };
  const auto named = kNamed.find(spec);
  if (named != kNamed.end()) return named->second();
  ADD_FAILURE() << "no blob named " << spec;
  return {};
}

ozo::ref_ptr<ozo::IStorage> Child(ozo::IStorage* parent, const char* name) {
  ozo::ref_ptr<ozo::IStorage> child;
  EXPECT_EQ(parent->AppendNode(name, child.Ref()), 0);
  return child;
}

// A record node written by hand, as a damaged or foreign store might hold it.
void StoreRaw(Scene& s, std::uint32_t typeId, bool withCertificate) {
  auto node = Child(Child(s.m_host.storageRoot(), "ServerCertificates").get(), "ZepaEdr");
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

// The steps too irregular for a line of words.
const std::map<std::string, std::function<void(Scene&)>> kProcedures = {
    {"convert-exceptions", ConvertExceptions},
    {"store-server-record-without-certificate", [](Scene& s) { StoreRaw(s, ivo::ServerCertificate::TypeId, false); }},
    {"store-client-record-in-server-slot", [](Scene& s) { StoreRaw(s, ivo::ClientCertificate::TypeId, true); }},
    {"set-client-1-password-with-nul",
     [](Scene& s) {
       // OpenSSL reads the password up to its first NUL; the record keeps it whole.
       const ivo::ClientCertificate record(Blob("p12:pw"), ozo::string8_t("pw\0tail", 7));
       s.Call("Set client 1", s.manager().SetClientCertificate(1, record, test::User()));
     }},
    {"set-client-1-password-of-64k",
     [](Scene& s) { s.Set(Kind::Client, 1, Blob("p12:pw"), std::string(65536, 'p').c_str()); }},
    {"upgrade-from-a-store-with-server-3",
     [](Scene& s) {
       test::RecordingHost old;
       ASSERT_EQ(old.WriteRecord(3, ivo::ServerCertificate{Blob("der:old")}), 0);
       Upgrade(s, old.store());
     }},
    {"add-unrelated-data",
     [](Scene& s) { Child(s.m_host.storageRoot(), "Existing")->SetValue("kept", variant_t::FromUInt32(7), nullptr); }},
    {"upgrade-from-a-hand-made-tree",
     [](Scene& s) {
       test::RecordingHost old;
       auto servers = Child(old.storageRoot(), "ServerCertificates");
       Child(servers.get(), "Siem")->SetValue("certificate", variant_t::FromString8("Siem"), nullptr);
       Child(old.storageRoot(), "ClientCertificates");
       Child(old.storageRoot(), "empty")->SetValue("", variant_t::FromString8(""), nullptr);
       Child(old.storageRoot(), "text")->SetValue("", variant_t::FromString8("unnamed"), nullptr);
       Upgrade(s, old.store());
     }},
    {"upgrade-from-an-empty-store",
     [](Scene& s) {
       Upgrade(s, host::Make<host::MemoryPersistentStorage>(std::make_shared<host::FaultInjector>()).get());
     }},
};

// One step, recorded or not: VERB [KIND TYPE [BLOB [PASSWORD]]], or a
// procedure's name.
void Perform(Scene& s, const std::string& step, bool recorded) {
  std::istringstream words(step);
  std::string verb, kindName, blob, password = "pw";
  ivo::CertificateType type = 0;
  words >> verb;
  if (const auto procedure = kProcedures.find(verb); procedure != kProcedures.end()) return procedure->second(s);
  if (verb == "create") return recorded ? void(s.Call("Create", s.Create())) : s.CreateOrFail();
  if (verb == "destroy") return s.Destroy();
  if (verb == "can-unload") return void(s.Call("CanUnloadModule", ozoCanUnloadModule()));
  if (verb == "without") {
    words >> kindName;
    return s.m_host.Remove(kindName == "publisher" ? host::Service::EventPublisher : host::Service::PolicyProvider);
  }
  if (verb == "lock")
    return void(s.m_host.policy().SetSettingLocked(0xAF09109F, true));  // the server certificate of type 1
  if (verb == "fail") {                                                 // fail OPERATION [SKIP [TIMES]] with MediaError
    std::uint32_t skip = 0, times = UINT32_MAX;
    words >> kindName >> skip >> times;
    return s.m_host.faults().FailOperation(kindName, ozo::results::MediaError, skip, times);
  }
  words >> kindName >> type >> std::quoted(blob) >> std::quoted(password);
  const Kind kind = kindName == "server" ? Kind::Server : Kind::Client;
  if (verb == "store" && kind == Kind::Server) return s.StoreServer(type, Blob(blob));
  if (verb == "store") return s.StoreClient(type, Blob(blob), password.c_str());
  if (verb == "set" && !recorded) {
    ASSERT_EQ(kind == Kind::Server ? s.SetServer(type, Blob(blob)) : s.SetClient(type, Blob(blob), password.c_str()),
              0);
    return;
  }
  if (verb == "set") return s.Set(kind, type, Blob(blob), password.c_str());
  if (verb == "set-policy") return s.SetPolicy(kind, type, Blob(blob), password.c_str());
  if (verb == "remove") return s.Remove(kind, type);
  if (verb == "remove-policy") return s.RemovePolicy(kind, type);
  if (verb == "get") return s.Get(kind, type);
  if (verb == "get-pem") return s.GetPem(type);
  if (verb == "query") return s.Query(kind, type);
  ADD_FAILURE() << "no step " << step;
}

std::string Indented(const std::string& text) {
  std::string out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) out += "  " + line + "\n";
  return out;
}

std::vector<std::string> ScenarioNames() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(CM_TRACES_DIR))
    if (entry.path().extension() == ".txt") names.push_back(entry.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

class Transcripts : public testing::TestWithParam<std::string> {};

TEST_P(Transcripts, MatchTheReviewedRecords) {
  const std::string path = std::string(CM_TRACES_DIR) + "/" + GetParam() + ".txt";
  std::istringstream scenario(test::ReadWholeFile(path));
  Scene scene;
  std::string actual;
  bool started = false;
  for (std::string line; std::getline(scenario, line) && !testing::Test::HasFatalFailure();) {
    const bool recorded = line.rfind("  $ ", 0) == 0;
    if (recorded || line.rfind("  % ", 0) == 0) {
      if (recorded && !started) scene.Start(), started = true;
      actual += line + "\n";
      Perform(scene, line.substr(4), recorded);
      if (recorded) actual += Indented(scene.Take());
    } else if (line.rfind("  ", 0) != 0) {
      actual += line + "\n";
    }
  }
  test::ExpectTranscript(actual + Indented(scene.StoredTree()), path);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Transcripts, testing::ValuesIn(ScenarioNames()),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
