// certctl: the command-line tool of the certificates manager. It is a host
// like any other: it loads the library with dlopen and works only through
// ozoCreateObject and the interfaces.
#include <iostream>
#include <set>
#include <string>

#include "tools/certctl/commands.h"
#include "tools/certctl/errors.h"

namespace {

using certctl::Failure;

const std::set<std::string> kValueOptions = {"--store", "--trace",         "--log",          "--library", "--out",
                                             "--from",  "--password-file", "--password-env", "--warning", "--critical",
                                             "--type",  "--kind",          "--require",      "--keep",    "--before",
                                             "--since", "--tail"};
const std::set<std::string> kSwitches = {"--json", "--policy", "--client", "--show-password", "--help", "--version"};

certctl::Invocation Parse(int argc, char** argv) {
  certctl::Invocation invocation;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (kValueOptions.count(word)) {
      if (i + 1 >= argc) throw Failure(certctl::kExitUsage, word + " needs a value");
      invocation.values[word] = argv[++i];
    } else if (kSwitches.count(word)) {
      invocation.switches.insert(word);
    } else if (word.rfind("--", 0) == 0) {
      throw Failure(certctl::kExitUsage, "unknown option " + word);
    } else if (invocation.command.empty()) {
      invocation.command = word;
    } else {
      invocation.arguments.push_back(word);
    }
  }
  invocation.options.store = invocation.Value("--store");
  invocation.options.library = invocation.Value("--library");
  invocation.options.logFile = invocation.Value("--log");
  invocation.options.json = invocation.Has("--json");
  if (const std::string level = invocation.Value("--trace"); !level.empty()) {
    try {
      invocation.options.traceLevel = static_cast<std::uint32_t>(std::stoul(level));
    } catch (...) {
      throw Failure(certctl::kExitUsage, "--trace takes a level, such as 300 or 800");
    }
  }
  return invocation;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const certctl::Invocation invocation = Parse(argc, argv);
    if (invocation.Has("--version")) {
      std::cout << "certctl " << CM_VERSION << "\n";
      return certctl::kExitOk;
    }
    if (invocation.command.empty() || invocation.Has("--help") || invocation.command == "help") {
      std::cout << certctl::Usage();
      return invocation.command.empty() && !invocation.Has("--help") ? certctl::kExitUsage : certctl::kExitOk;
    }
    return certctl::RunCommand(invocation);
  } catch (const Failure& failure) {
    std::cerr << "certctl: " << failure.what() << "\n";
    return failure.exitCode;
  } catch (const std::exception& error) {
    std::cerr << "certctl: " << error.what() << "\n";
    return certctl::kExitFailed;
  }
}
