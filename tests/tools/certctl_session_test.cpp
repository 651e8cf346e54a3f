// certctl as a person uses it: shell sessions kept as data in
// tests/data/certctl/<session>.txt, in the form of cram tests. An indented
// "$ " line is a shell command, run in the folder of the sample files with
// certctl on the PATH, $CERTCTL_STORE set to store.db, and $MAN_PAGE,
// $VERSION, $COMPLETION, $ALERT_RULES and $README naming certctl's man page,
// version, bash completion, Prometheus alert rules and README, $SESSIONS the folder
// of the sessions and their helper scripts, and $NOW the test's
// start (seconds since 1970, what the times shown are relative to); the indented lines after it are what it printed:
// its standard output, then its standard error marked "! ", then "[N]" when its exit status N is not 0. An indented
// "% " line prepares the scene, unrecorded:
//   raw-server TYPE FILE [STORE]            a server record written straight into a store
//   raw-client TYPE FILE PASSWORD [STORE]   the same for a client record (certctl refuses
//                                           what has ended or cannot be read)
//   sql FILE STATEMENTS...                  SQL run on a database file, made when missing
//   crash FILE STATEMENTS...                the same in a writer that dies before it commits,
//                                           leaving its journal hot
//   needs-root                              the session is skipped unless run as root
//   serve NAME ARGUMENTS...                 openssl s_server -www ARGUMENTS on the loopback
//                                           address; $NAME is its HOST:PORT from then on
//   cmp NAME ARGUMENTS...                   OpenSSL's mock CMP server, openssl cmp -port 0
//                                           ARGUMENTS, reached as $NAME
//   ocsp NAME ARGUMENTS...                  openssl ocsp -port P ARGUMENTS, P the port of $NAME
//                                           (which `unused` reserved, so that certificates made
//                                           before it starts can name it)
//   http NAME FOLDER                        a static HTTP server of FOLDER on $NAME's port (the same)
//   stop NAME                               the server $NAME stopped
//   silent NAME                             $NAME: a listener that never answers
//   unused NAME                             $NAME: a port nothing listens on
//   hostile NAME garbage|flood|slow [PEER]  $NAME: a peer that breaks TLS on purpose (garbage:
//                                           PEER's ServerHello, then text; flood: endless bytes),
//                                           or PEER a second late with every connection (slow)
// HOST:PORT of each is shown as $NAME (its port alone is $NAME_PORT, shown
// so after "localhost:"), handshake times as <seconds>.
// Lines that are not indented are commentary. Each session is run afresh and
// compared with its file whole.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <regex>
#include <sstream>

#include "tests/support/loopback_peers.h"
#include "tests/support/transcript.h"
#include "tests/tools/certctl_fixture.h"

namespace {

class CertctlSessions : public test::CertctlTest, public testing::WithParamInterface<std::string> {
 protected:
  // What a command printed, in the session's form.
  std::string Shell(const std::string& command) const {
    const std::string bin = std::filesystem::path(CM_CERTCTL_PATH).parent_path().string();
    std::vector<std::string> environment = {"PATH=" + bin + ":/usr/sbin:/usr/bin:/sbin:/bin",
                                            "CERTCTL_STORE=store.db",
                                            "HOME=" + m_dir.path(),
                                            "LC_ALL=C",
                                            "MAN_PAGE=" CM_MAN_PAGE,
                                            "VERSION=" CM_VERSION,
                                            "COMPLETION=" CM_COMPLETION,
                                            "ALERT_RULES=" CM_ALERT_RULES,
                                            "README=" CM_README,
                                            "NOW=" + std::to_string(kNow),
                                            "SESSIONS=" CM_SESSIONS_DIR};
    for (const auto& [name, address] : m_addresses) {
      environment.push_back(name + "=" + address);
      environment.push_back(name + "_PORT=" + test::LoopbackPeers::PortOf(address));
    }
    const test::ProcessResult result =
        test::RunProcess({"/bin/sh", "-c", "cd '" + m_dir.path() + "' && " + command}, m_scratch.path(), environment);
    std::string text = test::Indented(result.out) + test::Indented(result.err, "  ! ");
    if (result.exit != 0) text += "  [" + std::to_string(result.exit) + "]\n";
    return text;
  }

  // Times within a year of kNow relative to it: "<now>" within the hour (the
  // time of an event), "<now+~2h>" up to a day ahead within ten minutes of
  // whole hours (a time set from when a command ran, as the next attempt
  // after a failure), "<now+481h>" in whole hours, else "<now-90061s>" (the
  // monitoring samples are dated from kNow). Days left until 2100 (the other
  // samples' end) as "<days to 2100>", the user as "<user>", the temporary
  // folder as "$TMP".
  std::string Masked(std::string text) const {
    for (const auto& [name, address] : m_addresses) {
      text = std::regex_replace(text, std::regex(address), "$$" + name);
      text = std::regex_replace(text, std::regex("localhost:" + test::LoopbackPeers::PortOf(address) + "\\b"),
                                "localhost:$$" + name + "_PORT");
    }
    static const std::regex kSeconds(
        R"((handshake_seconds'=|"handshakeSeconds":|probe_duration_seconds\{[^}]*\} )[0-9.]+)");
    text = std::regex_replace(text, kSeconds, "$1<seconds>");
    static const std::regex kTime(R"(\b(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ|1\d{9})\b)");
    std::string out;
    auto copied = text.cbegin();
    for (std::sregex_iterator it(text.begin(), text.end(), kTime), end; it != end; ++it) {
      std::tm time{};
      const std::string found = it->str();
      const std::int64_t delta = (found.find('-') == std::string::npos
                                      ? std::stoll(found)
                                      : (strptime(found.c_str(), "%Y-%m-%dT%H:%M:%SZ", &time), timegm(&time))) -
                                 kNow;
      const std::string sign = delta < 0 ? "" : "+";
      out.append(copied, (*it)[0].first);
      const std::int64_t hours = (std::abs(delta) + 1800) / 3600, off = std::abs(std::abs(delta) - hours * 3600);
      out += std::abs(delta) > 366 * kDay                     ? found
             : std::abs(delta) < 3600                         ? "<now>"
             : delta > 0 && delta <= kDay + 600 && off <= 600 ? "<now+~" + std::to_string(hours) + "h>"
             : delta % 3600 == 0                              ? "<now" + sign + std::to_string(delta / 3600) + "h>"
                                                              : "<now" + sign + std::to_string(delta) + "s>";
      copied = (*it)[0].second;
    }
    out.append(copied, text.cend());
    const std::int64_t daysTo2100 = (4102444800 - kNow) / kDay;
    const std::string days = "\\b(" + std::to_string(daysTo2100) + "|" + std::to_string(daysTo2100 - 1) + ")\\b";
    out = std::regex_replace(out, std::regex(days), "<days to 2100>");
    out = std::regex_replace(out, std::regex("user " + std::string(::getpwuid(::geteuid())->pw_name) + " \\(\\d+\\)"),
                             "user <user>");
    return std::regex_replace(test::MaskVarying(out), std::regex(m_dir.path()), "$$TMP");
  }

  void Prepare(const std::string& step) {
    test::StepWords words(step);
    const std::string verb = words.OneOf("step", {"sql", "crash", "raw-server", "raw-client", "serve", "cmp", "ocsp",
                                                  "http", "stop", "silent", "unused", "hostile", "needs-root"});
    if (verb == "needs-root") return words.End();  // read before the session runs
    if (verb == "hostile") {
      const std::string name = words.Next("variable"), kind = words.Next("kind");
      const std::string upstream = words.More() ? Address(words.Next("peer")) : "";
      words.End();
      m_addresses.emplace_back(name, m_peers.Hostile(kind, upstream));
      return;
    }
    if (verb == "ocsp" || verb == "http") {
      const std::string address = Address(words.Next("variable"));
      std::vector<std::string> arguments;
      while (words.More()) arguments.push_back(words.Next("argument"));
      if (verb == "ocsp") return void(m_peers.Ocsp(address, arguments, m_dir.path()));
      if (arguments.size() != 1) throw std::invalid_argument("http takes NAME FOLDER");
      return void(m_peers.Http(address, Path(arguments.front())));
    }
    if (verb == "stop") {
      const std::string address = Address(words.Next("variable"));
      words.End();
      return m_peers.Stop(address);
    }
    if (verb == "serve" || verb == "cmp" || verb == "silent" || verb == "unused") {
      const std::string name = words.Next("variable");
      std::vector<std::string> arguments;
      while (words.More()) arguments.push_back(words.Next("argument"));
      m_addresses.emplace_back(name, verb == "serve"    ? m_peers.Serve(arguments, m_dir.path())
                                     : verb == "cmp"    ? m_peers.Cmp(arguments, m_dir.path())
                                     : verb == "silent" ? m_peers.Silent()
                                                        : m_peers.Unused());
      return;
    }
    if (verb == "sql" || verb == "crash") {
      const std::string file = words.Next("database");
      std::string statements;
      while (words.More()) statements += words.Next("statement") + " ";
      if (verb == "crash") return Crash(Path(file), statements);
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open(Path(file).c_str(), &db), SQLITE_OK);
      EXPECT_EQ(sqlite3_exec(db, statements.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
      sqlite3_close(db);
      return;
    }
    const std::optional<ivo::PeerType> type = ivo::PeerType::From(words.Number("certificate type"));
    ASSERT_TRUE(type) << "raw records are written for the four types";
    const std::string file = Path(words.Next("file"));
    const std::string password = verb == "raw-client" ? words.Next("password") : "";
    const std::string store = words.More() ? Path(words.Next("store")) : "";
    words.End();
    if (verb == "raw-server")
      WriteRaw(*type, test::ReadFile(file), store);
    else
      WriteRaw(*type, ivo::ClientCertificate(test::ReadFile(file), ozo::string8_t(password.c_str())), store);
  }

  // A writer that runs `statements` in a transaction with a tiny cache (so
  // pages reach the file) and dies before it commits: its journal is left
  // hot beside `file`.
  static void Crash(const std::string& file, const std::string& statements) {
    const pid_t writer = ::fork();
    if (writer == 0) {
      sqlite3* db = nullptr;
      sqlite3_open(file.c_str(), &db);
      sqlite3_exec(db, ("PRAGMA cache_size=2; BEGIN; " + statements).c_str(), nullptr, nullptr, nullptr);
      ::_exit(0);
    }
    ASSERT_EQ(test::ExitOf(writer), 0);
    ASSERT_TRUE(std::filesystem::exists(file + "-journal")) << "no hot journal beside " << file;
  }

  // The address of the peer called `name` ($NAME).
  std::string Address(const std::string& name) const {
    for (const auto& [known, address] : m_addresses)
      if (known == name) return address;
    throw std::invalid_argument("no peer " + name);
  }

  test::TempDir m_scratch;
  test::LoopbackPeers m_peers;
  std::vector<std::pair<std::string, std::string>> m_addresses;  // $NAME, HOST:PORT
};

TEST_P(CertctlSessions, PrintWhatTheTranscriptShows) {
  const std::string path = std::string(CM_SESSIONS_DIR) + "/" + GetParam() + ".txt";
  if (::geteuid() != 0 && test::ReadWholeFile(path).find("\n  % needs-root\n") != std::string::npos)
    GTEST_SKIP() << GetParam() << " acts as a second user (setpriv), which needs root";
  const std::string replayed = test::Replay(path, [this](char mark, const std::string& step) {
    if (mark == '$') return Shell(step);
    try {
      Prepare(step);
    } catch (const std::invalid_argument& badStep) {
      ADD_FAILURE() << badStep.what();
    }
    return std::string();
  });
  test::ExpectTranscript(Masked(replayed), path);
}

INSTANTIATE_TEST_SUITE_P(Sessions, CertctlSessions, testing::ValuesIn(test::TranscriptNames(CM_SESSIONS_DIR)),
                         [](const testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
