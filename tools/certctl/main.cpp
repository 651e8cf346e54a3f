// certctl: the command-line tool of the certificates manager. It is a host
// like any other: it loads the library with dlopen and works only through
// ozoCreateObject and the interfaces.
#include <iostream>
#include <string>

#include "host/core_dumps.h"
#include "tools/certctl/command_line.h"
#include "tools/certctl/errors.h"

int main(int argc, char** argv) {
  // Before any password or key is read: a crash leaves none of them on disk.
  if (std::string error; !host::KeepSecretsOutOfCoreDumps(error)) std::cerr << "certctl: warning: " << error << "\n";
  try {
    const certctl::ParsedCommandLine parsed = certctl::ParseCommandLine(argc, argv);
    if (parsed.invocation.command.empty()) {
      std::cout << parsed.text;
      return certctl::kExitOk;
    }
    return certctl::RunCommand(parsed.invocation);
  } catch (const certctl::Failure& failure) {
    std::cerr << "certctl: " << failure.what() << "\n";
    return failure.exitCode;
  } catch (const std::exception& error) {
    std::cerr << "certctl: " << error.what() << "\n";
    return certctl::kExitFailed;
  }
}
