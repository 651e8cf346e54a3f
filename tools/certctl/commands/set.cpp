// set-server and set-client: a certificate file checked by certctl (what it
// holds, and nothing else), then stored through the component, which decides
// as it does for any host (validity, policy).
#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/file_checks.h"
#include "tools/certctl/lib/files.h"
#include "tools/certctl/lib/inventory.h"
#include "tools/certctl/lib/manager_run.h"
#include "tools/certctl/lib/output.h"
#include "tools/certctl/lib/passwords.h"

namespace certctl::commands {
namespace {

using ozo::result_t;
namespace results = ozo::results;

struct Arguments {
  PeerType type;
  InputFile file;
  bool policy = false;
  std::optional<InputFile> passwordFile;
  std::optional<std::string> passwordEnv;
};

// The stored record of the slot when the component cannot use it: a change
// of that slot then fails because of the stored record, not the new file.
std::optional<StoredCertificate> BrokenRecord(Session& session, ivo::PeerType type, bool client) {
  std::optional<StoredCertificate> stored =
      JudgeSlot(session.host(), session.component(), session.trace(), type, client);
  return stored && !stored->problem.empty() ? stored : std::nullopt;
}

int Set(const GlobalOptions& global, const Arguments& arguments, bool client) {
  const ivo::PeerType type = arguments.type.value;
  const std::string& file = arguments.file.path;
  const ozo::blob_t blob = ReadFileBytes(file);
  Secret password;
  UniquePtr<X509> certificate;
  if (client) {
    password = ReadPassword(PasswordFrom(arguments.passwordFile ? arguments.passwordFile->path : "",
                                         arguments.passwordEnv.value_or(""), file),
                            "Password of the PKCS#12 container: ");
    certificate = std::move(CheckClientFile(file, blob, password).certificate);
  } else {
    certificate = CheckServerFile(file, blob);
  }
  const std::string kind = client ? "client" : "server";
  return WithManager(
      global, client ? Access::WriteSecrets : Access::Write, [&](Session& session, ivo::ICertificatesManager& manager) {
        result_t result;
        if (client) {
          const ivo::ClientCertificate record(blob, password.text());
          result = arguments.policy ? manager.SetPolicyClientCertificate(type, record)
                                    : manager.SetClientCertificate(type, record, host::ProcessUser());
        } else {
          const ivo::ServerCertificate record{blob};
          result = arguments.policy ? manager.SetPolicyServerCertificate(type, record)
                                    : manager.SetServerCertificate(type, record, host::ProcessUser());
        }
        session.ThrowIfStoreFailed(result);
        if (result == results::CertificateOutOfValidityPeriod)
          throw Failure(kExitFailed, host::ResultText(result) + ": " + ValidityProblem(file, certificate.get()),
                        result);
        if (result == results::ExceptionHasNoResultCode)
          if (const std::optional<StoredCertificate> broken = BrokenRecord(session, type, client))
            throw Failure(kExitFailed,
                          "the stored " + broken->slot() + " record " + broken->problem +
                              "; remove it first (certctl remove-" + kind + " " + type.keyword() + ")",
                          result);
        Outcome outcome = Report(session, result, kind + " certificate of " + type.keyword() + " stored",
                                 "the same " + kind + " certificate is stored already");
        outcome.facts = {{"type", type.keyword()}, {"kind", kind}, {"changed", outcome.status == kExitOk}};
        return outcome;
      });
}

}  // namespace

Command SetServer() {
  return Define<Arguments>(
      "set-server", "store a server certificate (DER or PEM)",
      {Operand(&Arguments::type, "TYPE"), Operand(&Arguments::file, "FILE")},
      {Switch(&Arguments::policy, "--policy", kPolicyHelp)},
      [](const GlobalOptions& global, const Arguments& arguments) { return Set(global, arguments, false); });
}

Command SetClient() {
  return Define<Arguments>(
      "set-client", "store a client certificate (PKCS#12)",
      {Operand(&Arguments::type, "TYPE"), Operand(&Arguments::file, "FILE")},
      {Switch(&Arguments::policy, "--policy", kPolicyHelp),
       Option(&Arguments::passwordFile, "--password-file", "FILE", kPasswordFileHelp),
       Option(&Arguments::passwordEnv, "--password-env", "VARIABLE", kPasswordEnvHelp)},
      [](const GlobalOptions& global, const Arguments& arguments) { return Set(global, arguments, true); });
}

}  // namespace certctl::commands
