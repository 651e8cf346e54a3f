// certctl: the command-line tool of the certificates manager. It is a host
// like any other: it loads the library with dlopen and works only through
// ozoCreateObject and the interfaces.
#include <iostream>
#include <string>

#include "host/core_dumps.h"
#include "host/crypto_memory.h"
#include "tools/certctl/cli/complete.h"
#include "tools/certctl/cli/parser.h"
#include "tools/certctl/lib/failure.h"
#include "tools/certctl/lib/output.h"

namespace {

using namespace certctl;

// Runs what the command line asks for; returns the exit status.
int Run(const ParsedCommandLine& parsed) {
  const Command* command = parsed.command;
  if (!parsed.usageError.empty()) {
    // The problem may quote what was typed; the usage lines after it are the tool's own.
    const std::size_t lineEnd = parsed.usageError.find('\n');
    ReportFailure(parsed.global, parsed.usageError.substr(0, lineEnd), kExitUsage);
    if (lineEnd != std::string::npos && !parsed.global.json) std::cerr << parsed.usageError.substr(lineEnd + 1) << "\n";
    // A monitoring plugin always prints its status line.
    return command && command->unknown
               ? command->unknown(parsed.global, parsed.usageError.substr(0, parsed.usageError.find('\n')))
               : kExitUsage;
  }
  if (!parsed.text.empty() || !command) {
    std::cout << parsed.text;
    return kExitOk;
  }
  try {
    return command->run(parsed.global, parsed.given);
  } catch (const Failure& failure) {
    if (failure.exitCode == kExitUsage && command->unknown) return command->unknown(parsed.global, failure.what());
    if (failure.exitCode != kExitFailed) throw;
    std::string where = command->path;
    for (const std::string& operand : parsed.given.operands)
      if (!operand.empty()) where += " " + operand;
    throw Failure(failure.exitCode, where + ": " + failure.what(), failure.result);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == kCompleteCommand) {
    for (const std::string& candidate : Completions({argv + 2, argv + argc})) std::cout << candidate << "\n";
    return kExitOk;
  }
  // Before any password or key is read: a crash leaves none of them on disk,
  // and no memory OpenSSL releases holds one.
  if (!host::WipeReleasedCryptoMemory()) PrintFailure("warning: OpenSSL allocated before main");
  if (std::string error; ozo::Failed(host::KeepSecretsOutOfCoreDumps(error))) PrintFailure("warning: " + error);
  ParsedCommandLine parsed;
  try {
    parsed = ParseCommandLine(argc, argv);
    return Run(parsed);
  } catch (const Failure& failure) {
    ReportFailure(parsed.global, failure.what(), failure.exitCode);
    return failure.exitCode;
  } catch (const std::exception& error) {
    ReportFailure(parsed.global, error.what(), kExitFailed);
    return kExitFailed;
  }
}
