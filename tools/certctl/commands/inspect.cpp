// inspect: describes a certificate file or PKCS#12 container without touching
// any store: every field openssl x509 -text and step certificate inspect
// show, the warnings an operator should see, and what the certificates
// manager would make of it.
#include <openssl/x509.h>

#include <ctime>
#include <iostream>

#include "tools/certctl/cli/command.h"
#include "tools/certctl/lib/certificate_file.h"
#include "tools/certctl/lib/certificate_report.h"
#include "tools/certctl/lib/file_checks.h"
#include "tools/certctl/lib/files.h"
#include "tools/certctl/lib/library_path.h"
#include "tools/certctl/lib/output.h"
#include "tools/certctl/lib/passwords.h"
#include "tools/certctl/lib/record_judgement.h"
#include "tools/certctl/lib/terminal_text.h"

namespace certctl::commands {
namespace {

struct Arguments {
  InputFile file;
  bool client = false;
  std::optional<InputFile> passwordFile;
  std::optional<std::string> passwordEnv;
  std::optional<Seconds> checkend;
};

// What a file holds, as certctl reads it.
struct Contents {
  std::vector<UniquePtr<X509>> certificates;  // the one the component stores first
  std::string format;                         // "DER", "PEM", "PKCS#12"
  std::string keyText;                        // a container's key, "EC 256 bits (prime256v1)"
  bool keyMatches = false;
  std::vector<std::string> warnings;  // of the file as a whole
};

Contents ReadServer(const std::string& name, const ozo::blob_t& bytes) {
  ServerFile file;
  if (const std::string problem = ReadServerFile(bytes, file); !problem.empty())
    throw Failure(kExitUsage, name + " " + problem);
  Contents contents{std::move(file.certificates), file.pem ? "PEM" : "DER", "", false, {}};
  if (contents.certificates.size() > 1)
    contents.warnings.push_back("it holds " + std::to_string(contents.certificates.size()) + " certificates");
  if (file.trailingData) contents.warnings.push_back("it has data after its certificate");
  return contents;
}

Contents ReadClient(const std::string& name, const ozo::blob_t& bytes, const Secret& password) {
  ClientFile file;
  const ContainerProblem problem = ReadClientFile(bytes, password.text(), file);
  if (problem == ContainerProblem::WrongPassword)
    throw Failure(kExitUsage, "wrong password for " + name + " (its integrity check fails)");
  if (problem != ContainerProblem::None && problem != ContainerProblem::KeyMismatch)
    throw Failure(kExitUsage, name + " " + Describe(problem, Holder::File));
  Contents contents{{}, "PKCS#12", file.key ? KeyText(KeyFactsOf(file.key.get())) : "none", false, {}};
  if (file.certificate) {
    contents.keyMatches = X509_check_private_key(file.certificate.get(), file.key.get()) == 1;
    contents.certificates.push_back(std::move(file.certificate));
  }
  if (!contents.keyMatches)
    contents.warnings.push_back(file.key ? "its private key matches none of its certificates"
                                         : "it holds no private key");
  for (UniquePtr<X509>& other : file.others) contents.certificates.push_back(std::move(other));
  return contents;
}

// What set-server or set-client would do with the file: the exit status it
// would end with, and why it would refuse it (empty when it stores it).
// The checks certctl makes first, then the component's judgement in a host
// of its own, then the validity period the component enforces.
struct Verdict {
  int status = kExitOk;
  std::string why;
};

Verdict VerdictOn(const GlobalOptions& global, const ozo::blob_t& bytes, const Secret& password, bool client,
                  const std::string& name, X509* certificate) {
  try {
    if (client)
      CheckClientFile(name, bytes, password);
    else
      CheckServerFile(name, bytes);
  } catch (const Failure& refused) {
    return {refused.exitCode, refused.what()};
  }
  host::Module component;
  std::string error;
  if (!component.Load(LibraryPath(global.library), error))
    throw Failure(kExitStore, "cannot load the certificates manager: " + error);
  const TraceRoute trace{global.traceLevel, stderr};
  const StoredCertificate judged =
      client
          ? JudgeRecord(component, trace, ivo::PeerType::All().front(), ivo::ClientCertificate(bytes, password.text()))
          : JudgeRecord(component, trace, ivo::PeerType::All().front(), ivo::ServerCertificate{bytes});
  if (!judged.problem.empty()) return {kExitFailed, "the certificates manager: it " + judged.problem};
  if (const std::string outside = ValidityProblem(name, certificate); !outside.empty())
    return {kExitFailed, host::ResultText(ozo::results::CertificateOutOfValidityPeriod) + ": " + outside};
  return {};
}

int Inspect(const GlobalOptions& global, const Arguments& arguments) {
  const std::string& name = arguments.file.path;
  const ozo::blob_t bytes = ReadFileBytes(name);
  const bool client = arguments.client || arguments.passwordFile || arguments.passwordEnv;
  std::optional<std::int64_t> checkend;
  if (arguments.checkend) checkend = arguments.checkend->value;
  Secret password;
  if (client)
    password = ReadPassword(PasswordFrom(arguments.passwordFile ? arguments.passwordFile->path : "",
                                         arguments.passwordEnv.value_or(""), name),
                            "Password of the PKCS#12 container: ");
  Contents contents = client ? ReadClient(name, bytes, password) : ReadServer(name, bytes);
  const std::int64_t now = std::time(nullptr);
  std::vector<CertificateReport> reports;
  for (std::size_t i = 0; i < contents.certificates.size(); ++i)
    reports.push_back(ReportOf(contents.certificates[i].get(), !client && i == 0));
  const Verdict verdict = VerdictOn(global, bytes, password, client, name, contents.certificates[0].get());
  const std::string command = client ? "set-client" : "set-server";
  const CertificateReport& stored = reports.front();
  const bool ends = checkend && stored.notAfterSeconds <= now + *checkend;

  std::vector<std::string> warnings = contents.warnings;
  for (std::size_t i = 0; i < reports.size(); ++i)
    for (const std::string& warning : reports[i].warnings)
      warnings.push_back((reports.size() > 1 ? "certificate " + std::to_string(i + 1) + ": " : "") + warning);
  if (global.json) {
    Json json = {{"file", name}, {"format", contents.format}, {"certificates", Json::array()}};
    for (const CertificateReport& report : reports) json["certificates"].push_back(ReportJson(report, now));
    if (client) json["privateKey"] = {{"key", contents.keyText}, {"matchesCertificate", contents.keyMatches}};
    json["warnings"] = warnings;
    json["verdict"] = {
        {"command", command}, {"stores", verdict.why.empty()}, {"exit", verdict.status}, {"reason", verdict.why}};
    if (checkend) json["checkend"] = {{"seconds", *checkend}, {"endsWithin", ends}};
    PrintJson(json);
  } else {
    std::cout << (name == "-" ? "(standard input)" : name) << ": " << contents.format
              << (reports.size() > 1 ? ", " + std::to_string(reports.size()) + " certificates" : "")
              << (client ? std::string(", private key ") + contents.keyText +
                               (contents.keyMatches ? " matching its certificate" : " NOT matching its certificate")
                         : "")
              << "\n";
    for (std::size_t i = 0; i < reports.size(); ++i)
      std::cout << (i == 0 ? "Certificate" : "Certificate " + std::to_string(i + 1)) << ":\n"
                << ReportText(reports[i], now);
    for (const std::string& warning : warnings) std::cout << "Warning: " << warning << "\n";
    std::cout << Printable("Verdict: " + command +
                           (verdict.why.empty()
                                ? " stores it"
                                : " refuses it (exit " + std::to_string(verdict.status) + "): " + verdict.why))
              << "\n";
    if (checkend) std::cout << (ends ? "Certificate will expire" : "Certificate will not expire") << "\n";
  }
  // As openssl x509 -checkend with --checkend; else what set-* would end with.
  return checkend ? (ends ? kExitFalse : kExitOk) : verdict.status;
}

}  // namespace

Command Inspect() {
  Command inspect = Define<Arguments>(
      "inspect", "describe a certificate or container file", {Operand(&Arguments::file, "FILE")},
      {Switch(&Arguments::client, "--client", "FILE is a PKCS#12 container"),
       Option(&Arguments::passwordFile, "--password-file", "FILE", kPasswordFileHelp),
       Option(&Arguments::passwordEnv, "--password-env", "VARIABLE", kPasswordEnvHelp),
       Option(&Arguments::checkend, "--checkend", "SECONDS", "exit 1 when the certificate ends within SECONDS")},
      Inspect);
  inspect.exitStatus = R"(Exit status: what set-server (set-client for a container) would end with:
0 it stores it; 2 the component refuses it (outside its validity period, or
undecodable); 3 certctl refuses the file (not one certificate, a container
without its key, ...). With --checkend, as openssl x509 -checkend: 1 when
the certificate ends within SECONDS, else 0. 4 the library cannot be loaded.
)";
  return inspect;
}

}  // namespace certctl::commands
