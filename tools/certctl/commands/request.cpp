// request: a new key for a type's client slot, kept in the store as the
// slot's pending key (never in a file of its own), and a PKCS#10 request for
// it; --cancel drops the pending key. install takes the signed certificate.

#include "host/lifecycle/pending_key.h"
#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/lifecycle_run.h"
#include "tools/certctl/lib/manager_run.h"
#include "tools/certctl/lib/output.h"

namespace certctl::commands {
namespace {

namespace lifecycle = host::lifecycle;
using ozo::result_t;
namespace results = ozo::results;

struct Arguments {
  PeerType type;
  KeySpec keyType;
  std::optional<DistinguishedName> subject;
  std::vector<AlternativeName> alternativeNames;
  OutputFile out;
  bool newKey = false;
  bool cancel = false;
};

int Cancel(const GlobalOptions& global, ivo::PeerType type) {
  LifecycleRun run(global);
  const host::Status cancelled = lifecycle::CancelRequest(run.store(), type, host::ProcessUser());
  ThrowIfStoreFailed(cancelled);
  if (cancelled.code() == results::False) {
    Announce(global, std::string("no key is pending for ") + type.keyword(),
             {{"type", type.keyword()}, {"cancelled", false}});
    return kExitFalse;
  }
  Announce(global, std::string("the pending key of ") + type.keyword() + " is dropped",
           {{"type", type.keyword()}, {"cancelled", true}});
  return kExitOk;
}

int Request(const GlobalOptions& global, const Arguments& arguments) {
  const ivo::PeerType type = arguments.type.value;
  if (arguments.cancel) return Cancel(global, type);
  lifecycle::KeyOrder order;
  order.type = type;
  order.algorithm = arguments.keyType.algorithm;
  order.newKey = arguments.newKey;
  if (arguments.subject) order.name = arguments.subject->fields;
  if (!arguments.alternativeNames.empty()) {
    order.alternativeNames.emplace();
    for (const AlternativeName& name : arguments.alternativeNames) order.alternativeNames->push_back(name.text);
  }
  order.initiator = host::ProcessUser();
  lifecycle::KeyRequest request;
  {
    // The store takes a private key: it must be one others cannot read.
    LifecycleRun run(global);
    const host::Status made = lifecycle::RequestKey(run.store(), run.manager(), order, request);
    ThrowIfStoreFailed(made);
    if (made.code() == results::NotFound)
      throw Failure(kExitUsage, std::string("the ") + type.keyword() +
                                    " client slot is empty: name the request's subject with --subject");
    if (!made.ok()) throw Failure(kExitFailed, "no request made: " + made.words(), made.code());
  }
  const std::string said =
      (request.reused ? "the pending key " + request.keyText + " is used again (--new-key makes another)"
                      : "a new key " + request.keyText + " is pending") +
      "; certctl install " + type.keyword() + " takes the signed certificate";
  const bool toStdout = arguments.out.path.empty() || arguments.out.path == "-";
  Json facts = {{"type", type.keyword()}, {"key", request.keyText}, {"newKey", !request.reused}};
  if (global.json && toStdout) {
    // One object on stdout: the request travels in it.
    facts["request"] = request.pem;
    Announce(global, said, facts);
    return kExitOk;
  }
  WriteOutput(arguments.out.path, request.pem.data(), request.pem.size(), 0644);
  if (toStdout) {
    PrintFailure(said);
  } else {
    facts["output"] = arguments.out.path;
    Announce(global, "request written to " + arguments.out.path + "; " + said, facts);
  }
  return kExitOk;
}

}  // namespace

Command Request() {
  return Define<Arguments>(
      "request", "a new key pending for the client slot, and a request for it", {Operand(&Arguments::type, "TYPE")},
      {Option(&Arguments::keyType, "--key-type", "KEY", "ec:P-256, ec:P-384, rsa:2048, rsa:3072 or rsa:4096"),
       Option(&Arguments::subject, "--subject", "DN", "the subject (default: the slot's client certificate's)"),
       Option(&Arguments::alternativeNames, "--san", "NAME", "a subject alternative name (repeatable)"),
       Option(&Arguments::out, "-o,--out", "FILE", "write the request to FILE instead of standard output"),
       Switch(&Arguments::newKey, "--new-key", "make a new key even when one is pending"),
       Mode(&Arguments::cancel, "--cancel", "drop the pending key instead")},
      Request);
}

}  // namespace certctl::commands
