// certctl check (a monitoring plugin) and certctl metrics (Prometheus text),
// on stores holding certificates that end in 3, 20 and 60 days, one that
// has ended and one not yet valid.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <regex>

#include "host/storage/sqlite_store.h"
#include "tests/support/recording_host.h"
#include "tests/tools/certctl_fixture.h"

namespace {

constexpr std::int64_t kDay = 86400;
const std::int64_t kNow = std::time(nullptr);

// A certificate valid from `fromDays` days from now until `toDays` days and
// an hour from now (negative: in the past).
test::CertificateParams Valid(std::int64_t fromDays, std::int64_t toDays, const std::string& name) {
  test::CertificateParams params;
  params.subject = {{"CN", name}};
  params.notBefore = test::GeneralizedTime(kNow + fromDays * kDay);
  params.notAfter = test::GeneralizedTime(kNow + toDays * kDay + 3600);
  return params;
}

class CertctlMonitorTest : public test::CertctlTest {
 protected:
  CertctlMonitorTest() {
    for (const int days : {3, 20, 60}) Write("in" + std::to_string(days) + ".der", test::MakeDer(Valid(-1, days, "d")));
    Write("ended.der", test::MakeDer(Valid(-30, -6, "ended")));
    Write("future.der", test::MakeDer(Valid(10, 90, "future")));
    test::Pkcs12Params container;
    container.certificate = Valid(-1, 20, "agent");
    container.password = "s3cret";
    Write("in20.p12", test::MakePkcs12(container));
  }

  // Fills slots: "TYPE KIND FILE" through certctl, or "TYPE raw FILE" for a
  // server record written straight into the store, as a previous run (or a
  // damaged store) may have left it: certctl refuses what has ended.
  void Fill(const std::vector<std::string>& slots) {
    for (const std::string& slot : slots) {
      std::istringstream words(slot);
      std::string type, kind, file;
      words >> type >> kind >> file;
      if (kind == "raw") {
        WriteRaw(static_cast<ivo::CertificateType>(std::stoi(type)), test::ReadFile(Path(file)));
      } else {
        std::vector<std::string> args = {"set-" + kind, type, Path(file)};
        if (kind == "client") args.insert(args.end(), {"--password-file", Path("password")});
        ASSERT_EQ(Run(args).exit, 0) << slot;
      }
    }
  }

  void WriteRaw(ivo::CertificateType type, const ozo::blob_t& blob) {
    ozo::ref_ptr<host::SqliteStore> store;
    std::string error;
    ASSERT_EQ(host::SqliteStore::Open(m_store, host::SqliteStore::Mode::ReadWrite, store, error), 0) << error;
    host::HostOptions options;
    options.store = store;
    test::RecordingHost host(std::move(options));
    ASSERT_EQ(host.WriteRecord(type, ivo::ServerCertificate{blob}), 0);
  }
};

struct CheckCase {
  const char* name;
  std::vector<std::string> slots;
  std::vector<std::string> options;
  int exit;
  const char* statusLine;  // its start
  const char* performance;
};

void PrintTo(const CheckCase& check, std::ostream* out) { *out << check.name; }

class CheckTest : public CertctlMonitorTest, public testing::WithParamInterface<CheckCase> {};

TEST_P(CheckTest, GivesTheStateItsLineAndPerformanceData) {
  ASSERT_EQ(Run({"list"}).exit, 0);  // makes the store, which check does not
  Fill(GetParam().slots);
  std::vector<std::string> args = {"check"};
  args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
  const test::ProcessResult result = Run(args);
  EXPECT_EQ(result.exit, GetParam().exit) << result.out << result.err;
  const std::string statusLine = result.out.substr(0, result.out.find('\n'));
  EXPECT_EQ(statusLine.rfind(GetParam().statusLine, 0), 0u) << statusLine;
  const std::size_t bar = statusLine.find(" | ");
  EXPECT_EQ(bar == std::string::npos ? "" : statusLine.substr(bar + 3), GetParam().performance);
  EXPECT_EQ(result.out.find("s3cret"), std::string::npos);
  const test::ProcessResult json = Run({"check", "--json"});
  EXPECT_EQ(json.exit, Run({"check"}).exit) << "the same verdict as JSON";
}

INSTANTIATE_TEST_SUITE_P(
    Table, CheckTest,
    testing::Values(
        CheckCase{"Empty", {}, {}, 0, "CERTIFICATES OK - no certificates stored", ""},
        CheckCase{"Valid",
                  {"edr server in60.der"},
                  {},
                  0,
                  "CERTIFICATES OK - 1 certificate valid; the first to end: edr server expires in 60 days",
                  "'edr_server_days_left'=60;30;7"},
        CheckCase{"Warning",
                  {"edr server in60.der", "ndr server in20.der"},
                  {},
                  1,
                  "CERTIFICATES WARNING - ndr server expires in 20 days (",
                  "'edr_server_days_left'=60;30;7 'ndr_server_days_left'=20;30;7"},
        CheckCase{"Critical",
                  {"siem server in3.der"},
                  {},
                  2,
                  "CERTIFICATES CRITICAL - siem server expires in 3 days",
                  "'siem_server_days_left'=3;30;7"},
        CheckCase{"OwnThresholds",
                  {"siem server in3.der"},
                  {"--warning", "10", "--critical", "2"},
                  1,
                  "CERTIFICATES WARNING",
                  "'siem_server_days_left'=3;10;2"},
        CheckCase{"BelowEveryThreshold",
                  {"siem server in3.der"},
                  {"--warning", "2", "--critical", "1"},
                  0,
                  "CERTIFICATES OK",
                  "'siem_server_days_left'=3;2;1"},
        CheckCase{"Expired",
                  {"1 raw ended.der"},
                  {},
                  2,
                  "CERTIFICATES CRITICAL - edr server expired 6 days ago",
                  "'edr_server_days_left'=-6;30;7"},
        CheckCase{"NotYetValid",
                  {"1 raw future.der"},
                  {},
                  2,
                  "CERTIFICATES CRITICAL - edr server is not valid before ",
                  "'edr_server_days_left'=90;30;7"},
        CheckCase{"ClientReadWithItsPassword",
                  {"sandbox client in20.p12"},
                  {},
                  1,
                  "CERTIFICATES WARNING - sandbox client expires in 20 days",
                  "'sandbox_client_days_left'=20;30;7"},
        CheckCase{"Undecodable",
                  {"3 raw text.txt"},
                  {},
                  3,
                  "CERTIFICATES UNKNOWN - ndr server cannot be decoded: 0x80000151",
                  "'ndr_server_days_left'=U;30;7"},
        CheckCase{"CriticalWinsOverUnknown",
                  {"3 raw text.txt", "edr server in3.der"},
                  {},
                  2,
                  "CERTIFICATES CRITICAL - edr server expires in 3 days",
                  "'edr_server_days_left'=3;30;7 'ndr_server_days_left'=U;30;7"},
        CheckCase{"RequiredMissing",
                  {"edr server in60.der"},
                  {"--require", "edr/server,siem/client"},
                  2,
                  "CERTIFICATES CRITICAL - siem client is required but not stored",
                  "'edr_server_days_left'=60;30;7 'siem_client_days_left'=U;30;7"},
        CheckCase{"FilteredByTypeAndKind",
                  {"edr server in3.der", "ndr server in60.der"},
                  {"--type", "ndr", "--kind", "server"},
                  0,
                  "CERTIFICATES OK",
                  "'ndr_server_days_left'=60;30;7"},
        CheckCase{"BadThreshold",
                  {},
                  {"--warning", "soon"},
                  3,
                  "CERTIFICATES UNKNOWN - --warning takes a number of days",
                  ""},
        CheckCase{"CriticalAboveWarning", {}, {"--warning", "5", "--critical", "9"}, 3, "CERTIFICATES UNKNOWN", ""},
        CheckCase{"BadRequire", {}, {"--require", "edr"}, 3, "CERTIFICATES UNKNOWN - --require takes TYPE/KIND", ""}),
    [](const testing::TestParamInfo<CheckCase>& info) { return info.param.name; });

TEST_F(CertctlMonitorTest, AStoreThatCannotBeOpenedIsUnknownAndChecksChangeNothing) {
  const test::ProcessResult broken = Run({"check"}, Path("text.txt"));
  EXPECT_EQ(broken.exit, 3);
  EXPECT_EQ(broken.out.rfind("CERTIFICATES UNKNOWN - the store cannot be used", 0), 0u) << broken.out;
  const test::ProcessResult missing = Run({"check"}, Path("typo.db"));
  EXPECT_EQ(missing.out, "CERTIFICATES UNKNOWN - no store at " + Path("typo.db") + "\n");
  EXPECT_FALSE(std::filesystem::exists(Path("typo.db")));
  Fill({"edr server in3.der", "2 raw expired.der"});
  const std::string events = Run({"events", "--json"}).out;
  for (const char* command : {"check", "metrics", "list"}) ASSERT_NE(Run({command}).exit, 4) << command;
  EXPECT_EQ(Run({"events", "--json"}).out, events) << "a read must not journal the start-up check's events";
}

// Every sample line of `metric` in `text`, labels and value.
std::vector<std::string> Samples(const std::string& text, const std::string& metric) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("certificates_manager_" + metric + "{", 0) == 0 ||
        line.rfind("certificates_manager_" + metric + " ", 0) == 0)
      lines.push_back(line.substr(line.find_first_of("{ ")));
  return lines;
}

TEST_F(CertctlMonitorTest, MetricsHoldTheDatesEscapeSubjectsAndKeepUndecodableRecords) {
  test::CertificateParams hostile = Valid(-1, 20, "a \"quoted\" \\ name\nsecond line");
  Write("hostile.der", test::MakeDer(hostile));
  Fill({"edr server hostile.der", "sandbox client in20.p12", "3 raw text.txt"});
  const std::string out = Path("metrics.prom");
  const test::ProcessResult result = Run({"metrics", "--out", out});
  ASSERT_EQ(result.exit, 0) << result.err;
  const std::string text = test::ReadWholeFile(out);
  EXPECT_EQ(Samples(text, "store_readable"), std::vector<std::string>{" 1"});
  const std::vector<std::string> notAfter = Samples(text, "certificate_not_after_seconds");
  ASSERT_EQ(notAfter.size(), 2u) << text;
  EXPECT_EQ(notAfter[0], R"({type="edr",kind="server",subject="CN=a \"quoted\" \\ name\\x0Asecond line",)"
                         R"(issuer="CN=a \"quoted\" \\ name\\x0Asecond line",serial="01"} )" +
                             std::to_string(kNow + 20 * kDay + 3600));
  EXPECT_EQ(notAfter[1].substr(notAfter[1].rfind(' ') + 1), std::to_string(kNow + 20 * kDay + 3600));
  const std::string notBefore = Samples(text, "certificate_not_before_seconds").at(0);
  EXPECT_EQ(notBefore.substr(notBefore.rfind(' ') + 1), std::to_string(kNow - kDay));
  EXPECT_NE(text.find(R"(certificate_decodable{type="ndr",kind="server",subject="",issuer="",serial=""} 0)"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find(R"(certificates{type="ndr",kind="server"} 1)"), std::string::npos);
  EXPECT_NE(text.find(R"(events_total{event=")"), std::string::npos);
  for (const auto& entry : std::filesystem::directory_iterator(m_dir.path()))
    EXPECT_EQ(entry.path().filename().string().rfind(".metrics.prom", 0), std::string::npos)
        << "a temporary file stayed";

  if (test::RunCommand("command -v promtool").empty()) GTEST_SKIP() << "promtool is not installed (Debian: prometheus)";
  const test::ProcessResult lint =
      test::RunProcess({"/bin/sh", "-c", "promtool check metrics < '" + out + "'"}, m_dir.path());
  EXPECT_EQ(lint.exit, 0) << lint.out << lint.err;
}

TEST_F(CertctlMonitorTest, MetricsOfAStoreThatCannotBeUsedSayItAndFailTheRun) {
  for (const char* store : {"text.txt", "missing.db"}) {
    const test::ProcessResult result = Run({"metrics", "--out", Path("m.prom")}, Path(store));
    EXPECT_EQ(result.exit, 4) << store;
    EXPECT_EQ(Samples(test::ReadWholeFile(Path("m.prom")), "store_readable"), std::vector<std::string>{" 0"});
  }
}

}  // namespace
