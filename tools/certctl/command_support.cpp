#include "tools/certctl/command_support.h"

#include <pwd.h>
#include <unistd.h>

#include <ctime>
#include <iostream>

#include "ivo/certificate_type_table.h"
#include "ozo/text/utf.h"
#include "tools/certctl/errors.h"
#include "tools/certctl/file_output.h"
#include "tools/certctl/inventory.h"

namespace certctl {

using ozo::result_t;
namespace results = ozo::results;

Outcome Report(const Session& session, result_t result, const std::string& done, const std::string& nothing) {
  session.ThrowIfStoreFailed(result);
  if (result == results::False) return {kExitFalse, nothing};
  if (ozo::Succeeded(result)) return {kExitOk, done};
  throw Failure(kExitFailed, Refusal(result), result);
}

std::string Refusal(result_t result) {
  std::string hint;
  if (result == results::AccessDenied) hint = ": the policy locks this setting";
  if (result == results::ExceptionHasNoResultCode) hint = ": the component cannot decode it";
  return DescribeResult(result) + hint;
}

void Announce(const Invocation& invocation, const std::string& message) {
  if (!message.empty() && !invocation.options.json) std::cout << message << "\n";
}

ozo::ref_ptr<ivo::ICertificatesManager> StartManager(Session& session) {
  ozo::ref_ptr<ivo::ICertificatesManager> manager;
  const result_t created = session.CreateManager(manager);
  if (ozo::Succeeded(created)) return manager;
  session.ThrowIfStoreFailed(created);
  const std::string culprits = UnloadableRecords(session);
  throw Failure(kExitFailed,
                culprits.empty() ? "cannot create the certificates manager: " + DescribeResult(created)
                                 : "the certificates manager cannot start: " + culprits,
                created);
}

int WithManager(const Invocation& invocation, Access access,
                const std::function<Outcome(Session&, ivo::ICertificatesManager&)>& body) {
  Session session(invocation.options, access);
  ozo::ref_ptr<ivo::ICertificatesManager> manager = StartManager(session);
  const Outcome outcome = body(session, *manager);  // on a throw the session rolls back
  manager.Reset();                                  // flushes the storage
  session.Commit();
  Announce(invocation, outcome.message);
  return outcome.status;
}

void JournalRemoval(Session& session, ivo::CertificateType type, bool client, const ivo::ChangeInitiator& initiator) {
  const ivo::CertificateTypeIds& ids = ivo::kCertificateTypeIds[type - 1];
  ivo::CertificateEvent event;
  event.eventType = client ? ids.clientRemoved : ids.serverRemoved;
  event.initiator = initiator;
  event.time = static_cast<std::int64_t>(std::time(nullptr));
  session.host().events().Publish(&event);
}

ivo::ChangeInitiator UserInitiator() {
  ivo::ChangeInitiator initiator;
  initiator.kind = ivo::ChangeInitiator::User;
  initiator.details.emplace();
  initiator.details->id = static_cast<std::uint32_t>(::getuid());
  const passwd* user = ::getpwuid(::getuid());
  const std::u16string name = ozo::text::Utf8ToUtf16(user ? user->pw_name : "unknown");
  initiator.details->name = ozo::string16_t(name.data(), name.size());
  return initiator;
}

PasswordSource PasswordOf(const Invocation& invocation, const std::string& file) {
  const std::string passwordFile = invocation.Value("--password-file");
  if (file == "-" && passwordFile == "-")
    throw Failure(kExitUsage, "standard input cannot hold both the file and its password");
  return {passwordFile, invocation.Value("--password-env")};
}

void WriteOutput(const Invocation& invocation, const void* data, std::size_t size, mode_t mode) {
  const std::string out = invocation.Value("--out");
  if (out.empty() || out == "-") {
    std::cout.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  } else {
    WriteWholeFile(out, data, size, mode);
  }
}

void WriteOutput(const Invocation& invocation, const ozo::blob_t& bytes, mode_t mode) {
  WriteOutput(invocation, bytes.data(), bytes.size(), mode);
}

}  // namespace certctl
