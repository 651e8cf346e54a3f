// get-server, pem and get-client: what a slot holds, as the component
// returns it.
#include <iostream>

#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/manager_run.h"
#include "tools/certctl/lib/output.h"

namespace certctl::commands {
namespace {

using ozo::result_t;

struct Arguments {
  PeerType type;
  OutputFile out;
  bool showPassword = false;
};

int GetServerAs(const GlobalOptions& global, const Arguments& arguments, bool pem) {
  return WithManager(global, Access::Read, [&](Session& session, ivo::ICertificatesManager& manager) {
    ivo::ServerCertificate record;
    const result_t result = pem ? manager.GetServerPemCertificate(arguments.type.value, record)
                                : manager.GetServerCertificate(arguments.type.value, record);
    const Outcome outcome = Report(session, result, "", "");
    if (outcome.status == kExitOk)
      WriteOutput(arguments.out.path, record.certificate.data(), record.certificate.size(), 0644);
    return outcome;
  });
}

// The container goes to --out; what is said about it goes to standard
// output: the password alone ("password: ..."), when asked for, or one JSON
// object with --json. With --out -, standard output holds the container
// alone: the password then goes to standard error.
int GetClientContainer(const GlobalOptions& global, const Arguments& arguments) {
  return WithManager(global, Access::Read, [&](Session& session, ivo::ICertificatesManager& manager) {
    ivo::ClientCertificate record;
    const result_t result = manager.GetClientCertificate(arguments.type.value, record);
    Outcome outcome = Report(session, result, "", "");
    if (outcome.status != kExitOk) return outcome;
    WriteOutput(arguments.out.path, record.certificate.data(), record.certificate.size(), 0600);
    if (arguments.out.path == "-") {
      if (arguments.showPassword) std::cerr << "password: " << record.password.c_str() << "\n";
      return outcome;
    }
    outcome.facts = {{"type", arguments.type.value.keyword()}, {"output", arguments.out.path}};
    outcome.message = "container written to " + arguments.out.path;
    if (!arguments.showPassword) {
      outcome.message += " (password hidden; --show-password)";
    } else if (global.json) {
      outcome.facts["password"] = record.password.c_str();
    } else {
      outcome.message = "password: " + std::string(record.password.c_str());  // one line a script reads
    }
    return outcome;
  });
}

const char* const kOutHelp = "write to FILE instead of standard output (- for stdout)";

}  // namespace

Command GetServer() {
  return Define<Arguments>(
      "get-server", "the stored server certificate, as stored", {Operand(&Arguments::type, "TYPE")},
      {Option(&Arguments::out, "-o,--out", "FILE", kOutHelp)},
      [](const GlobalOptions& global, const Arguments& arguments) { return GetServerAs(global, arguments, false); });
}

Command Pem() {
  return Define<Arguments>(
      "pem", "the stored server certificate as PEM", {Operand(&Arguments::type, "TYPE")},
      {Option(&Arguments::out, "-o,--out", "FILE", kOutHelp)},
      [](const GlobalOptions& global, const Arguments& arguments) { return GetServerAs(global, arguments, true); });
}

Command GetClient() {
  return Define<Arguments>(
      "get-client", "the stored PKCS#12 container", {Operand(&Arguments::type, "TYPE")},
      {Option(&Arguments::out, "-o,--out", "FILE", "where the container goes (- for stdout)", true),
       Switch(&Arguments::showPassword, "--show-password", "print the stored password too")},
      GetClientContainer);
}

}  // namespace certctl::commands
