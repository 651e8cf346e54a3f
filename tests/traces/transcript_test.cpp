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

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <iomanip>
#include <map>
#include <new>
#include <random>
#include <sstream>
#include <stdexcept>
#include <typeinfo>

#include "app_core/facade/upgrade/persistent_data_upgrader.h"
#include "ivo/certificate_type_table.h"
#include "ivo_utils/date_to_string_and_viceversa.h"
#include "ozo/datetime/posix_datetime.h"
#include "ozo/error_handling/exception.h"
#include "ozo/error_handling/result_from_exception.h"
#include "ozo/module.h"
#include "tests/traces/scene.h"

namespace {

using ozo::types::variant_t;
using test::Scene;

test::CertificateParams Params(void (*adjust)(test::CertificateParams&)) {
  test::CertificateParams params;
  adjust(params);
  return params;
}

// A blob named in a scenario: der:NAME, pem:NAME, p12:PASSWORD[:NAME],
// text:BYTES, random:SIZE:SEED, or one of the named samples below.
ozo::blob_t Blob(const std::string& description) {
  const std::size_t colon = description.find(':');
  const std::string kind = description.substr(0, colon),
                    arg = colon == std::string::npos ? "" : description.substr(colon + 1);
  if (kind == "der") return test::ValidServerDer(arg);
  if (kind == "pem") return test::ValidServerPem(arg);
  if (kind == "text") return test::BlobOf(arg);
  if (kind == "random") {  // random:SIZE:SEED
    std::mt19937 random(std::stoul(arg.substr(arg.find(':') + 1)));
    std::string bytes(std::stoul(arg), '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return test::BlobOf(bytes);
  }
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
  const auto named = kNamed.find(description);
  if (named != kNamed.end()) return named->second();
  ADD_FAILURE() << "no blob named " << description;
  return {};
}

ozo::ref_ptr<ozo::IStorage> Child(ozo::IStorage* parent, const char* name) {
  ozo::ref_ptr<ozo::IStorage> child;
  EXPECT_EQ(parent->AppendNode(name, child.Ref()), 0);
  return child;
}

// Writes a node by hand, as a damaged, foreign or older store might hold it:
// [old:]PATH, then its values NAME=uint:NUMBER, NAME=text:TEXT or
// NAME=blob:BLOB.
void WriteNode(Scene& s, test::StepWords& words) {
  const std::string path = words.Next("path");
  const bool old = path.rfind("old:", 0) == 0;
  std::istringstream names(old ? path.substr(4) : path);
  ozo::ref_ptr<ozo::IStorage> node;
  for (std::string name; std::getline(names, name, '/');)
    node = Child(node ? node.get() : (old ? s.m_old : s.m_host).storageRoot(), name.c_str());
  while (words.More()) {
    const std::string assignment = words.Next("value");
    const std::size_t equals = assignment.find('='), colon = assignment.find(':', equals);
    if (equals == std::string::npos || colon == std::string::npos) words.Refuse("'" + assignment + "' is no value");
    const std::string kind = assignment.substr(equals + 1, colon - equals - 1), value = assignment.substr(colon + 1);
    if (kind != "uint" && kind != "text" && kind != "blob") words.Refuse("'" + kind + "' is no kind of value");
    EXPECT_EQ(node->SetValue(assignment.substr(0, equals).c_str(),
                             kind == "uint"   ? variant_t::FromUInt32(static_cast<std::uint32_t>(std::stoul(value)))
                             : kind == "text" ? variant_t::FromString8(value.c_str())
                                              : variant_t::FromBlob(Blob(value)),
                             nullptr),
              0)
        << assignment;
  }
}

void Upgrade(Scene& s, ozo::IPersistentStorage* old) {
  ozo::ref_ptr<ozo::IObject> object;
  ozo::ref_ptr<app_core::facade::upgrade::IPersistentDataUpgrader> upgrader;
  const ozo::clsid_t id = app_core::facade::upgrade::ClsIdCertificatesManagerPersistentDataUpgrader;
  ASSERT_EQ(ozoCreateObject(id, s.m_host.locatorAddress(), object.Ref()), 0);
  ASSERT_EQ(ozo::QueryInterface(object.get(), upgrader), 0);
  s.Call("Upgrade", upgrader->Upgrade(old, s.m_host.store()));
}

// Opaque to the optimiser, so no warning is raised about the refused sizes.
volatile std::size_t g_huge = SIZE_MAX - 2;

// Each kind of exception the component may meet, converted at a boundary.
void ConvertExceptions(Scene& s) {
  const std::pair<const char*, std::function<void()>> raised[] = {
      {"ResultCode", [] { throw ozo::ResultCodeException("f", 3, ozo::results::NotFound, u"m"); }},
      {"ResultCodeSuccess", [] { throw ozo::ResultCodeException("f", 3, 0, u""); }},
      {"TimeBefore1601", [] { ozo::datetime::PosixToUtcTime(-11644473601, 0); }},
      {"TimeEpochTooLate", [] { ozo::datetime::PosixToUtcTime(922337203686, 0); }},
      {"TimeEpochTooEarly", [] { ozo::datetime::PosixToUtcTime(-922337203686, 0); }},
      {"TimeMicrosecondsTooMany", [] { ozo::datetime::PosixToUtcTime(0, 922337203685477581); }},
      // Each term in range, their sum past 63 bits: the microseconds overshoot.
      {"TimeSumTooLate", [] { ozo::datetime::PosixToUtcTime(922337203685, 922337203685477580); }},
      {"TimeSumTooEarly", [] { ozo::datetime::PosixToUtcTime(-922337203685, -922337203685477580); }},
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
      {"StringConstructorTooLong", [] { ozo::string8_t("x", g_huge + 2); }},
      {"StringReserveTooMuch", [] { ozo::string8_t("abc").reserve_extra(g_huge); }},
      {"StringResizeTooMuch", [] { ozo::string8_t("abc").resize_extra_at(0, g_huge); }},
      {"StringAppendTooMuch", [] { ozo::string8_t("abc").append("x", g_huge); }},
      {"OutOfRange", [] { throw std::out_of_range("range"); }},
      {"InvalidArgument", [] { throw std::invalid_argument("arg"); }},
      {"MakeTimeOverflow",
       [] {
         std::tm time{};
         time.tm_year = INT32_MAX;
         time.tm_mon = 1200;
         ivo::MakeTimeT(time);
       }},
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
      s.Print("= " + std::string(name) + ": nothing thrown");
    } catch (...) {
      s.Call(name, ozo::ResultFromCurrentException(&s.m_host.tracer(), "Operation"));
    }
  }
  s.Call("OutsideAHandler", ozo::ResultFromCurrentException(&s.m_host.tracer(), nullptr));
}

// The slot a step names: the server or the client certificate of a type.
struct Slot {
  bool server;
  ivo::CertificateType type;
};

// The manager's operation `verb` on `slot`, its result printed, then what it
// returned; changes are made by test::User().
ozo::result_t Operate(Scene& s, const std::string& verb, Slot slot, const std::string& blob,
                      const std::string& password) {
  const auto server = [&] { return ivo::ServerCertificate{Blob(blob)}; };
  const auto client = [&] { return ivo::ClientCertificate(Blob(blob), password.c_str()); };
  const ivo::CertificateType type = slot.type;
  if (verb == "store" || verb == "lock") {  // for a slot of the four types only
    const std::optional<ivo::PeerType> peer = ivo::PeerType::From(type);
    if (!peer) throw std::invalid_argument(verb + " takes one of the four types");
    if (verb == "store")
      return slot.server ? s.m_host.base().WriteRecord(*peer, server()) : s.m_host.base().WriteRecord(*peer, client());
    // The policy locks the slot's setting against local changes.
    const ivo::CertificateTypeIds& ids = peer->ids();
    return s.m_host.policy().SetSettingLocked(slot.server ? ids.serverSetting : ids.clientSetting, true), 0;
  }
  ivo::ICertificatesManager& m = s.manager();  // the other operations need a manager
  if (verb == "set")
    return s.Call("result", slot.server ? m.SetServerCertificate(type, server(), test::User())
                                        : m.SetClientCertificate(type, client(), test::User()));
  if (verb == "set-policy")
    return s.Call("result", slot.server ? m.SetPolicyServerCertificate(type, server())
                                        : m.SetPolicyClientCertificate(type, client()));
  if (verb == "remove")
    return s.Call("result", slot.server ? m.RemoveServerCertificate(type, test::User())
                                        : m.RemoveClientCertificate(type, test::User()));
  if (verb == "remove-policy")
    return s.Call("result",
                  slot.server ? m.RemovePolicyServerCertificate(type) : m.RemovePolicyClientCertificate(type));
  if (verb == "get-pem" || (verb == "get" && slot.server)) {
    ivo::ServerCertificate record{test::BlobOf(verb == "get" ? "untouched" : "")};  // a stored PEM is appended
    const ozo::result_t result = s.Call(
        "result", verb == "get" ? m.GetServerCertificate(type, record) : m.GetServerPemCertificate(type, record));
    s.Print("  certificate=" + test::DescribeBlob(record.certificate));
    return result;
  }
  if (verb == "get") {
    ivo::ClientCertificate record(test::BlobOf("untouched"), "untouched");
    const ozo::result_t result = s.Call("result", m.GetClientCertificate(type, record));
    s.Print("  certificate=" + test::DescribeBlob(record.certificate) + " password=\"" +
            test::Printable(record.password.view()) + "\" (" + std::to_string(record.password.size()) + " characters)");
    return result;
  }
  if (verb == "query") {
    ozo::string8_t json("untouched", &s.m_host.allocator());
    const ozo::result_t result =
        s.Call("result", slot.server ? m.QueryServerCertificate(type, json) : m.QueryClientCertificate(type, json));
    const std::string text(json.view());
    s.Print("  " + (!text.empty() && text.back() == '\n' ? text.substr(0, text.size() - 1) : text));
    if (json.allocator() != &s.m_host.allocator()) s.Print("  the caller's allocator was lost");
    return result;
  }
  ADD_FAILURE() << "no operation " << verb;
  return ozo::results::NotImplemented;
}

// The steps too irregular for a line of words.
const std::map<std::string, std::function<void(Scene&)>> kProcedures = {
    {"convert-exceptions", ConvertExceptions},
    {"set-client-1-password-with-nul",
     [](Scene& s) {
       // OpenSSL reads the password up to its first NUL; the record keeps it whole.
       const ivo::ClientCertificate record(Blob("p12:pw"), ozo::string8_t("pw\0tail", 7));
       s.Call("Set client 1", s.manager().SetClientCertificate(1, record, test::User()));
     }},
    {"set-client-1-password-of-64k",
     [](Scene& s) {
       Operate(s, "set", Slot{false, 1}, "p12:pw", std::string(65536, 'p'));
     }},
};

// The verbs that act on a slot: VERB server|client TYPE [BLOB [PASSWORD]].
const std::initializer_list<const char*> kSlotVerbs = {"store",         "lock", "set",     "set-policy", "remove",
                                                       "remove-policy", "get",  "get-pem", "query"};

// One step (see the grammar in each branch), or a procedure's name. Its
// result, which a step that prepares the scene must not fail.
ozo::result_t Perform(Scene& s, const std::string& step) {
  test::StepWords words(step);
  const std::string verb = words.Next("verb");
  if (const auto procedure = kProcedures.find(verb); procedure != kProcedures.end())
    return words.End(), procedure->second(s), 0;
  if (verb == "create") return words.End(), s.Call("Create", s.Create());
  if (verb == "destroy") return words.End(), s.Destroy(), 0;
  if (verb == "can-unload") return words.End(), s.Call("CanUnloadModule", ozoCanUnloadModule());
  if (verb == "without") {  // without publisher|policy
    const std::string service = words.OneOf("service", {"publisher", "policy"});
    words.End();
    return s.m_host.Remove(service == "publisher" ? test::Service::EventPublisher : test::Service::PolicyProvider), 0;
  }
  if (verb == "node") return WriteNode(s, words), 0;
  if (verb == "upgrade") {  // upgrade [without-tree]: from the old store, or from a store without the tree
    const bool withoutTree = words.More() && words.OneOf("store", {"without-tree"}) == "without-tree";
    words.End();
    const auto empty = host::Make<host::MemoryPersistentStorage>();
    return Upgrade(s, withoutTree ? empty.get() : s.m_old.store()), 0;
  }
  if (verb == "fail") {  // fail [old:]OPERATION [SKIP [TIMES]] with MediaError
    const std::string operation = words.Next("operation");
    const std::uint32_t skip = words.More() ? words.Number("count to skip") : 0;
    const std::uint32_t times = words.More() ? words.Number("count of failures") : UINT32_MAX;
    words.End();
    const bool old = operation.rfind("old:", 0) == 0;
    return (old ? s.m_old : s.m_host)
               .faults()
               .FailOperation(operation.substr(old ? 4 : 0), ozo::results::MediaError, skip, times),
           0;
  }
  if (verb == "host-calls") {  // the host calls, apart from tracing, since the last such step
    words.End();
    const std::vector<std::string> journal = s.m_host.faults().journal();
    std::string calls;
    for (; s.m_hostCallsSeen < journal.size(); ++s.m_hostCallsSeen)
      if (journal[s.m_hostCallsSeen].rfind("ITracer::", 0) != 0) calls += " " + journal[s.m_hostCallsSeen];
    return s.Print("= host calls:" + (calls.empty() ? std::string(" none") : calls)), 0;
  }
  if (std::find_if(kSlotVerbs.begin(), kSlotVerbs.end(), [&](const char* v) { return verb == v; }) == kSlotVerbs.end())
    words.Refuse("'" + verb + "' is no step");
  const bool server = words.OneOf("kind", {"server", "client"}) == "server";
  const ivo::CertificateType type = words.Number("certificate type");
  const std::string blob = words.More() ? words.Next("blob") : "";
  const std::string password = words.More() ? words.Next("password") : "pw";
  words.End();
  return Operate(s, verb, Slot{server, type}, blob, password);
}

class Transcripts : public testing::TestWithParam<std::string> {};

TEST_P(Transcripts, MatchTheReviewedRecords) {
  const std::string path = std::string(CM_TRACES_DIR) + "/" + GetParam() + ".txt";
  Scene scene;
  const std::string replayed = test::Replay(path, [&scene](char mark, const std::string& step) {
    ozo::result_t result = ozo::results::NoError;
    try {
      result = Perform(scene, step);
    } catch (const std::invalid_argument& badStep) {
      ADD_FAILURE() << badStep.what();
      return std::string();
    }
    const std::string written = scene.Take();
    if (mark == '$') return test::Indented(written);
    EXPECT_TRUE(ozo::Succeeded(result)) << step << "\n" << written;
    return std::string();
  });
  test::ExpectTranscript(replayed + test::Indented(scene.StoredTree()), path);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Transcripts, testing::ValuesIn(test::TranscriptNames(CM_TRACES_DIR)),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
