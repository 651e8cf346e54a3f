// How a command works with a manager: one session, a result that becomes an
// exit status and a message, and the journal entries certctl itself makes.
#pragma once

#include <functional>
#include <string>

#include "host/initiator.h"
#include "ivo/certificates_manager.h"
#include "tools/certctl/lib/output.h"
#include "tools/certctl/lib/session.h"

namespace certctl {

// A command's exit status and the line it prints once its session is
// committed: no success is printed before the change is durable.
struct Outcome {
  int status;
  std::string message;
  Json facts = Json::object();  // what changed, for --json (see Announce)
};

// The outcome of a component result: 0 with `done`, "False" with `nothing`.
// Throws Failure naming what refused: the store (kExitStore) whenever it
// failed during the run, whatever the component made of that (a read that
// failed is no "nothing stored"); else the component (kExitFailed).
Outcome Report(const Session& session, ozo::result_t result, const std::string& done, const std::string& nothing);

// A component's refusal (not the store's): its code and what it means here.
std::string Refusal(ozo::result_t result);

// The refusal of a new pair for `type`'s client slot that the policy locks:
// what stays (the pending key, and a certificate kept with it) and the way
// out.
std::string LockedClientSlot(ivo::PeerType type);

// Creates the session's manager (its start-up check runs now). Throws
// Failure: kExitStore when the store failed, else kExitFailed with the
// records that keep it from starting.
ozo::ref_ptr<ivo::ICertificatesManager> StartManager(Session& session);

// Runs `body` with a manager over a new session and commits when it returns
// 0 or 1; prints the outcome's message after the commit. Returns the status.
int WithManager(const RunOptions& global, Access access,
                const std::function<Outcome(Session&, ivo::ICertificatesManager&)>& body);
// The same over a session the command has opened already.
int WithManagerOf(Session& session, const RunOptions& global,
                  const std::function<Outcome(ivo::ICertificatesManager&)>& body);

// The help of --policy, which delivers a change as the policy.
constexpr const char* kPolicyHelp = "the change comes from the policy (never refused by it)";

}  // namespace certctl
