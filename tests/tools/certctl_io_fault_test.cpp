// Every I/O call of a certctl change failed in turn, as SQLite's own
// robustness tests do: a test VFS preloaded into certctl fails the Nth write,
// sync, truncate, size or lock call, for N = 1, 2, ... until the change runs
// unfaulted. After every run the store must open, pass its integrity check
// and hold, as a whole (slots, events and locks together), either the state
// before the change or the state after it; exit 0 must mean the latter, and a
// failed run must print no success.

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "host/storage/sqlite_store.h"
#include "ivo/certificates_manager.h"
#include "ozo/module.h"
#include "tests/support/recording_host.h"
#include "tests/tools/certctl_fixture.h"

namespace {

// A change of tests/data/io_faults.txt, and the certctl runs that prepare
// the stores for it.
struct Scenario {
  std::string name;
  std::vector<std::vector<std::string>> prepare;
  std::vector<std::string> change;
};

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

std::vector<Scenario> Scenarios() {
  std::vector<Scenario> scenarios;
  std::istringstream table(test::ReadWholeFile(CM_IO_FAULTS));
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    Scenario scenario;
    std::vector<std::string> run;
    words >> scenario.name;
    for (std::string word; words >> word;) {
      if (word == "|" || word == "->") {
        if (!run.empty()) scenario.prepare.push_back(run);
        run.clear();
      } else {
        run.push_back(word);
      }
    }
    scenario.change = run;
    scenarios.push_back(scenario);
  }
  return scenarios;
}

std::string Digest(const ozo::blob_t& bytes) {
  const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return std::to_string(bytes.size()) + ":" + std::to_string(std::hash<std::string_view>()(view));
}

// The store's whole observable state as text: integrity, every slot's
// record, the event journal and the locks.
std::string StateOf(const std::string& path) {
  ozo::ref_ptr<host::SqliteStore> store;
  std::string error;
  if (ozo::Failed(host::SqliteStore::Open(path, host::SqliteStore::Mode::ReadWrite, store, error)))
    return "cannot open: " + error;
  std::ostringstream state;
  state << "integrity " << test::IntegrityOf(store->db()) << "\n";

  host::HostOptions options;
  options.store = store;
  options.journalEventsInStore = false;  // reading the state changes nothing of it
  test::RecordingHost host(std::move(options));
  ozo::ref_ptr<ozo::IObject> object;
  ozo::ref_ptr<ivo::ICertificatesManager> manager;
  if (ozo::Failed(ozoCreateObject(ivo::ClsIdCertificatesManager, host.locatorAddress(), object.Ref())) ||
      ozo::Failed(ozo::QueryInterface(object.get(), manager)))
    return state.str() + "no manager";
  for (ivo::CertificateType type = 1; type <= 4; ++type) {
    ivo::ServerCertificate server;
    ivo::ClientCertificate client;
    const ozo::result_t serverRead = manager->GetServerCertificate(type, server);
    const ozo::result_t clientRead = manager->GetClientCertificate(type, client);
    state << type << " server " << std::hex << serverRead << std::dec << " " << Digest(server.certificate) << "\n"
          << type << " client " << std::hex << clientRead << std::dec << " " << Digest(client.certificate) << " "
          << client.password.c_str() << "\n";
  }
  manager.Reset();
  object.Reset();
  std::vector<host::SqliteJournal::Entry> entries;
  state << "events " << std::hex << store->journal().Entries(entries) << std::dec;
  for (const auto& entry : entries) state << " " << entry.event.eventType << "/" << entry.event.fields.size();
  std::set<std::uint32_t> locked;
  state << "\nlocks " << std::hex << store->locks().Locked(locked);
  for (std::uint32_t setting : locked) state << " " << setting;
  return state.str();
}

class CertctlIoFaultTest : public test::CertctlTest, public testing::WithParamInterface<Scenario> {
 protected:
  std::vector<std::string> Expand(std::vector<std::string> args) const {
    for (std::string& arg : args)
      if (arg.rfind("{DIR}", 0) == 0) arg = m_dir.path() + arg.substr(5);
    return args;
  }

  // Copies the prepared store over what a run left (its journal included).
  void Restore(const std::string& pristine) const {
    std::filesystem::remove(m_store + "-journal");
    std::filesystem::copy_file(pristine, m_store, std::filesystem::copy_options::overwrite_existing);
  }
};

TEST_P(CertctlIoFaultTest, NoFaultLosesARecordOrReportsAFalseSuccess) {
  for (const auto& prepare : GetParam().prepare) {  // a later --store wins over the test's store
    const test::ProcessResult prepared = Run(Expand(prepare));
    ASSERT_EQ(prepared.exit, 0) << prepared.err;
  }
  // Make sure the store exists even when nothing was prepared in it (an
  // unlock of what is unlocked is "nothing to do").
  ASSERT_EQ(Run({"policy", "unlock", "edr", "server"}).exit, 1);
  const std::string pristine = Path("pristine.db");
  std::filesystem::copy_file(m_store, pristine);
  const std::string before = StateOf(m_store);
  ASSERT_NE(before.find("integrity ok"), std::string::npos) << before;
  const std::vector<std::string> change = Expand(GetParam().change);
  ASSERT_EQ(Run(change).exit, 0);
  const std::string after = StateOf(m_store);
  ASSERT_NE(after, before);

  const std::string report = Path("fault-report");
  int faults = 0, falseSuccesses = 0, lost = 0, keptDespiteFailure = 0;
  for (unsigned at = 1;; ++at) {
    Restore(pristine);
    const test::ProcessResult run =
        Run(change, "",
            {"LD_PRELOAD=" CM_FAULTY_VFS_PATH, "CM_FAULT_AT=" + std::to_string(at), "CM_FAULT_REPORT=" + report,
             "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1"});
    unsigned long calls = 0;
    int fired = 0;
    std::FILE* counted = std::fopen(report.c_str(), "r");
    ASSERT_NE(counted, nullptr) << "run " << at << " left no report; it ended with " << run.exit << ": " << run.err;
    ASSERT_EQ(std::fscanf(counted, "%lu %d", &calls, &fired), 2);
    std::fclose(counted);
    std::filesystem::remove(report);
    if (!fired) {
      EXPECT_EQ(run.exit, 0) << run.err;
      break;
    }
    ++faults;
    const std::string state = StateOf(m_store);
    EXPECT_NE(state.find("integrity ok"), std::string::npos) << "fault at " << at << ": " << state;
    if (run.exit == 0) {
      if (state != after) ++falseSuccesses;
      EXPECT_EQ(state, after) << "fault at " << at << " reported success: " << run.out;
    } else {
      EXPECT_TRUE(run.out.empty()) << "fault at " << at << " printed a success: " << run.out;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
      if (state == after) ++keptDespiteFailure;
      if (state != before && state != after) ++lost;
      EXPECT_TRUE(state == before || state == after) << "fault at " << at << " (" << run.err << "):\n"
                                                     << state << "\nbefore:\n"
                                                     << before << "\nafter:\n"
                                                     << after;
    }
    ASSERT_LT(at, 2000u) << "the change never completed unfaulted";
  }
  std::printf("%s: %d faults injected, %d false successes, %d records lost, %d failures whose change was kept\n",
              GetParam().name.c_str(), faults, falseSuccesses, lost, keptDespiteFailure);
  EXPECT_GT(faults, 5);
}

INSTANTIATE_TEST_SUITE_P(Changes, CertctlIoFaultTest, testing::ValuesIn(Scenarios()),
                         [](const testing::TestParamInfo<Scenario>& info) { return info.param.name; });

}  // namespace
