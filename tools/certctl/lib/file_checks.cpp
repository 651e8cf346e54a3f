#include "tools/certctl/lib/file_checks.h"

#include <openssl/err.h>

#include <ctime>

#include "tools/certctl/lib/failure.h"

namespace certctl {
namespace {

void RequireRepresentableDates(const std::string& name, const X509* certificate) {
  if (const std::string problem = DateProblem(certificate); !problem.empty())
    throw Failure(kExitUsage, "the certificate in " + name + " cannot be stored: " + problem +
                                  ", which the certificates manager cannot represent");
}

}  // namespace

UniquePtr<X509> CheckServerFile(const std::string& name, const ozo::blob_t& bytes) {
  ServerFile file;
  if (const std::string problem = ReadServerFile(bytes, file); !problem.empty())
    throw Failure(kExitUsage, name + " " + problem);
  if (file.certificates.size() > 1)
    throw Failure(kExitUsage, name + " holds " + std::to_string(file.certificates.size()) +
                                  " certificates; store the one the peer presents or its CA");
  if (file.trailingData)
    throw Failure(kExitUsage, name + " has data after its certificate; store the certificate alone");
  RequireRepresentableDates(name, file.certificates.front().get());
  return std::move(file.certificates.front());
}

ClientFile CheckClientFile(const std::string& name, const ozo::blob_t& bytes, const Secret& password) {
  ClientFile file;
  const ContainerProblem problem = ReadClientFile(bytes, password.text(), file);
  if (problem == ContainerProblem::WrongPassword)
    throw Failure(kExitUsage, "wrong password for " + name + " (its integrity check fails)");
  if (problem != ContainerProblem::None) throw Failure(kExitUsage, name + " " + Describe(problem, Holder::File));
  if (!file.key) throw Failure(kExitUsage, name + " holds no private key: a client certificate needs its key");
  const bool matches = X509_check_private_key(file.certificate.get(), file.key.get()) == 1;
  ERR_clear_error();
  if (!matches) throw Failure(kExitUsage, "the private key in " + name + " does not match its certificate");
  RequireRepresentableDates(name, file.certificate.get());
  return file;
}

std::string ValidityProblem(const std::string& name, const X509* certificate) {
  const std::int64_t now = std::time(nullptr);
  const std::optional<std::int64_t> notBefore = SecondsOf(X509_get0_notBefore(certificate));
  const std::optional<std::int64_t> notAfter = SecondsOf(X509_get0_notAfter(certificate));
  if (notAfter && now >= *notAfter) return "the certificate in " + name + " expired on " + NotAfterText(certificate);
  if (notBefore && now < *notBefore)
    return "the certificate in " + name + " is not valid before " + NotBeforeText(certificate);
  return "";
}

}  // namespace certctl
