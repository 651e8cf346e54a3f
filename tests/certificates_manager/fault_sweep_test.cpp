// Every host call an operation makes, failed once in turn. For each run: no
// crash, no leak, a failure code or the unfaulted result (where the failed
// call cannot matter, such as tracing), and a storage left in one of the
// states the failure tables allow, never holding a damaged record.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "ozo/module.h"
#include "tests/support/manager_fixture.h"
#include "tests/support/recording_host.h"

namespace {

namespace results = ozo::results;
constexpr ozo::result_t kInjected = results::MediaError;

// What a slot (server certificate of type 1) may hold after the operation.
enum class Slot { Old, New, Empty };

struct SweepCase {
  const char* name;
  bool storeOldFirst;  // type 1 holds the "old" server certificate before the operation
  std::function<ozo::result_t(ivo::ICertificatesManager&)> operation;
};

void PrintTo(const SweepCase& sweep, std::ostream* out) { *out << sweep.name; }

ozo::blob_t Old() { return test::ValidServerDer("old"); }
ozo::blob_t New() { return test::ValidServerDer("new"); }

// Calls whose failure makes a storage read fail (reads answer "False" then).
bool IsStorageRead(const std::string& call) {
  for (const char* read : {"IStorage::GetNode", "IStorage::GetValue", "IStorage::GetNodesCount",
                           "IStorageSerializer2::Deserialize", "IAllocator::Allocate"})
    if (call.rfind(read, 0) == 0) return true;
  return false;
}

class FaultSweepTest : public testing::TestWithParam<SweepCase> {
 protected:
  // One run on a fresh host: prepare, optionally fail call `ordinal` of the
  // operation, run it, observe the slot, then check that a later change of
  // the slot still succeeds.
  struct Run {
    ozo::result_t result = 0;
    std::vector<std::string> journal;
    std::string failedCall;
    std::optional<Slot> slot;  // empty when the slot holds a readable record of neither kind
    ozo::result_t recovery = 0;
  };

  Run Once(std::uint64_t ordinal, bool createUnderFault = false) {
    Run run;
    test::RecordingHost host;
    ozo::ref_ptr<ivo::ICertificatesManager> manager;
    auto create = [&] {
      ozo::ref_ptr<ozo::IObject> object;
      const ozo::result_t result = ozoCreateObject(ivo::ClsIdCertificatesManager, host.locatorAddress(), object.Ref());
      if (ozo::Succeeded(result)) ozo::QueryInterface(object.get(), manager);
      return result;
    };
    if (!createUnderFault) {
      EXPECT_EQ(create(), 0);
      if (GetParam().storeOldFirst) {
        EXPECT_EQ(manager->SetPolicyServerCertificate(1, ivo::ServerCertificate{Old()}), 0);
      }
    }
    host.faults().Reset();
    if (ordinal) host.faults().FailCall(ordinal, kInjected);
    run.result = createUnderFault ? create() : GetParam().operation(*manager);
    run.journal = host.faults().journal();
    if (ordinal && ordinal <= run.journal.size()) run.failedCall = run.journal[ordinal - 1];
    host.faults().Reset();
    if (!manager && ozo::Failed(create())) return run;
    ivo::ServerCertificate stored;
    const ozo::result_t read = manager->GetServerCertificate(1, stored);
    // A record cut short by a failed save holds no object: no certificate.
    if (read == results::NotFound || read == results::UnspecifiedError)
      run.slot = Slot::Empty;
    else if (read == 0 && stored.certificate == Old())
      run.slot = Slot::Old;
    else if (read == 0 && stored.certificate == New())
      run.slot = Slot::New;
    run.recovery = manager->SetPolicyServerCertificate(1, ivo::ServerCertificate{test::ValidServerDer("later")});
    manager.Reset();
    EXPECT_EQ(ozoCanUnloadModule(), 0);
    EXPECT_EQ(host.allocator().liveBlocks(), 0u);
    return run;
  }
};

TEST_P(FaultSweepTest, EveryHostCallFailedInTurn) {
  const Run clean = Once(0);
  ASSERT_TRUE(clean.slot.has_value());
  ASSERT_FALSE(clean.journal.empty());
  const Slot before = GetParam().storeOldFirst ? Slot::Old : Slot::Empty;
  // Calls up to the old record's removal cannot have changed the slot yet.
  const auto removal = std::find(clean.journal.begin(), clean.journal.end(), "IStorage::RemoveNode");
  const std::uint64_t firstChange = removal == clean.journal.end()
                                        ? clean.journal.size() + 1
                                        : static_cast<std::uint64_t>(removal - clean.journal.begin()) + 1;
  for (std::uint64_t ordinal = 1; ordinal <= clean.journal.size(); ++ordinal) {
    const Run run = Once(ordinal);
    SCOPED_TRACE("failed call " + std::to_string(ordinal) + ": " + run.failedCall);
    ASSERT_TRUE(run.slot.has_value()) << "the slot holds a record that is neither old nor new";
    EXPECT_EQ(run.recovery, 0) << "a later change of the slot failed";
    const std::string& call = run.failedCall;
    if (call.rfind("ITracer::", 0) == 0 || call == "IEventPublisher::Publish" || call == "IStorage::Flush") {
      // Trace records, publish results and flushes never change an outcome.
      EXPECT_EQ(run.result, clean.result);
      EXPECT_EQ(*run.slot, *clean.slot);
    } else if (call == "IServiceLocator::GetInterface/64e90a4e") {  // no policy provider: refused
      EXPECT_EQ(run.result, kInjected);
      EXPECT_EQ(*run.slot, before);
    } else if (call == "IServiceLocator::GetInterface/de3a4e4a") {  // no publisher: the change stays
      EXPECT_EQ(run.result, kInjected);
      EXPECT_EQ(*run.slot, *clean.slot);
    } else {
      const bool allowed = ozo::Failed(run.result) || run.result == clean.result ||
                           (run.result == results::False && IsStorageRead(call));
      EXPECT_TRUE(allowed) << "result " << run.result;
      if (ordinal < firstChange && run.result != clean.result) {
        EXPECT_EQ(*run.slot, before);
      }
    }
  }
  RecordProperty("faults", static_cast<int>(clean.journal.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Operations, FaultSweepTest,
    testing::Values(
        SweepCase{"SetNew", false,
                  [](auto& m) { return m.SetServerCertificate(1, ivo::ServerCertificate{New()}, test::User()); }},
        SweepCase{"Replace", true,
                  [](auto& m) { return m.SetServerCertificate(1, ivo::ServerCertificate{New()}, test::User()); }},
        SweepCase{"PolicyReplace", true,
                  [](auto& m) { return m.SetPolicyServerCertificate(1, ivo::ServerCertificate{New()}); }},
        SweepCase{"SetClient", true,
                  [](auto& m) {
                    return m.SetClientCertificate(1, ivo::ClientCertificate(test::ClientContainer("c", "p"), "p"),
                                                  test::User());
                  }},
        SweepCase{"Remove", true, [](auto& m) { return m.RemoveServerCertificate(1, test::User()); }},
        SweepCase{"PolicyRemove", true, [](auto& m) { return m.RemovePolicyServerCertificate(1); }},
        SweepCase{"Get", true,
                  [](auto& m) {
                    ivo::ServerCertificate out;
                    return m.GetServerCertificate(1, out);
                  }},
        SweepCase{"Pem", true,
                  [](auto& m) {
                    ivo::ServerCertificate out;
                    return m.GetServerPemCertificate(1, out);
                  }},
        SweepCase{"Query", true,
                  [](auto& m) {
                    ozo::string8_t out;
                    return m.QueryServerCertificate(1, out);
                  }},
        SweepCase{"GetClientNothing", true,
                  [](auto& m) {
                    ivo::ClientCertificate out;
                    return m.GetClientCertificate(1, out);
                  }}),
    [](const testing::TestParamInfo<SweepCase>& info) { return info.param.name; });

// Construction: every call of the factory and the start-up check, failed in turn.
class ConstructionSweepTest : public FaultSweepTest {};

TEST_P(ConstructionSweepTest, EveryHostCallOfConstructionFailedInTurn) {
  const Run clean = Once(0, true);
  ASSERT_EQ(clean.result, 0);
  for (std::uint64_t ordinal = 1; ordinal <= clean.journal.size(); ++ordinal) {
    const Run run = Once(ordinal, true);
    SCOPED_TRACE("failed call " + std::to_string(ordinal) + ": " + run.failedCall);
    if (run.failedCall.rfind("ITracer::", 0) == 0 || run.failedCall == "IStorage::Flush") {
      EXPECT_EQ(run.result, 0);
    } else {
      EXPECT_TRUE(ozo::Failed(run.result)) << run.result;
    }
  }
  RecordProperty("faults", static_cast<int>(clean.journal.size()));
}

INSTANTIATE_TEST_SUITE_P(Construction, ConstructionSweepTest, testing::Values(SweepCase{"Create", false, nullptr}),
                         [](const testing::TestParamInfo<SweepCase>& info) { return info.param.name; });

}  // namespace
