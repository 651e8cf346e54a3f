// What every command shares: how a component result becomes an exit status
// and a message, and how a command runs with a manager in one session.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "ivo/certificates_manager.h"
#include "tools/certctl/commands.h"
#include "tools/certctl/input.h"
#include "tools/certctl/session.h"

namespace certctl {

// A command's exit status and the line it prints once its session is
// committed: no success is printed before the change is durable.
struct Outcome {
  int status;
  std::string message;
};

// The outcome of a component result: 0 with `done`, "False" with `nothing`.
// Throws Failure naming what refused: the store (kExitStore) whenever it
// failed during the run, whatever the component made of that (a read that
// failed is no "nothing stored"); else the component (kExitFailed).
Outcome Report(const Session& session, ozo::result_t result, const std::string& done, const std::string& nothing);

// A component's refusal (not the store's): its code and what it means here.
std::string Refusal(ozo::result_t result);

// Creates the session's manager (its start-up check runs now). Throws
// Failure: kExitStore when the store failed, else kExitFailed with the
// records that keep it from starting.
ozo::ref_ptr<ivo::ICertificatesManager> StartManager(Session& session);

// Runs `body` with a manager over a new session and commits when it returns
// 0 or 1; prints the outcome's message after the commit. Returns the status.
// A manager that cannot start is reported with the records that keep it
// from starting (kExitFailed).
int WithManager(const Invocation& invocation, Access access,
                const std::function<Outcome(Session&, ivo::ICertificatesManager&)>& body);

// Journals the removal of a record no event describes (one that could not
// be decoded): the type's "removed" event, without certificate fields, by
// `initiator`.
void JournalRemoval(Session& session, ivo::CertificateType type, bool client, const ivo::ChangeInitiator& initiator);

// Prints `message` on stdout unless the output is JSON or the message empty.
void Announce(const Invocation& invocation, const std::string& message);

// Local changes name the user who runs the tool.
ivo::ChangeInitiator UserInitiator();

// Where the password of the container in `file` comes from; throws Failure
// (usage) when both would come from standard input.
PasswordSource PasswordOf(const Invocation& invocation, const std::string& file);

// `size` bytes at `data` to --out FILE (created with `mode`), else (or for
// "-") to stdout.
void WriteOutput(const Invocation& invocation, const void* data, std::size_t size, mode_t mode);
void WriteOutput(const Invocation& invocation, const ozo::blob_t& bytes, mode_t mode);

// The commands, by family.
int SetCertificate(const Invocation& invocation, bool client);
int RemoveCertificate(const Invocation& invocation, bool client);
int GetServer(const Invocation& invocation, bool pem);
int GetClient(const Invocation& invocation);
int Query(const Invocation& invocation, bool client);
int List(const Invocation& invocation);
int Events(const Invocation& invocation);
int PruneEvents(const Invocation& invocation);
int PolicyShow(const Invocation& invocation);
int PolicyLock(const Invocation& invocation, bool lock);
int Upgrade(const Invocation& invocation);
int Inspect(const Invocation& invocation);
int Check(const Invocation& invocation);
int Metrics(const Invocation& invocation);
int Probe(const Invocation& invocation);
int Backup(const Invocation& invocation);
int Restore(const Invocation& invocation);
int Repair(const Invocation& invocation);

}  // namespace certctl
