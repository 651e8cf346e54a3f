// query-server and query-client: the component's JSON description of a
// stored certificate.
#include <iostream>

#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/manager_run.h"
#include "tools/certctl/lib/output.h"

namespace certctl::commands {
namespace {

struct Arguments {
  PeerType type;
};

int Query(const GlobalOptions& global, const Arguments& arguments, bool client) {
  const ivo::PeerType type = arguments.type.value;
  return WithManager(global, Access::Read, [&](Session& session, ivo::ICertificatesManager& manager) {
    ozo::string8_t json;
    const ozo::result_t result =
        client ? manager.QueryClientCertificate(type, json) : manager.QueryServerCertificate(type, json);
    const Outcome outcome = Report(
        session, result, "",
        std::string("no ") + (client ? "client" : "server") + " certificate of " + type.keyword() + " is stored");
    if (outcome.status == kExitOk) std::cout << json.c_str();
    return outcome;
  });
}

}  // namespace

Command QueryServer() {
  return Define<Arguments>(
      "query-server", "the server certificate described as JSON", {Operand(&Arguments::type, "TYPE")}, {},
      [](const GlobalOptions& global, const Arguments& arguments) { return Query(global, arguments, false); });
}

Command QueryClient() {
  return Define<Arguments>(
      "query-client", "the client certificate described as JSON", {Operand(&Arguments::type, "TYPE")}, {},
      [](const GlobalOptions& global, const Arguments& arguments) { return Query(global, arguments, true); });
}

}  // namespace certctl::commands
