#include "host/lifecycle/installation.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <string.h>
#include <sys/random.h>

#include <ctime>

#include "host/lifecycle/pending_key.h"
#include "host/lifecycle/schedule.h"
#include "host/lifecycle/trust.h"
#include "host/storage/journal_records.h"
#include "ossl/pkcs12.h"
#include "ossl/text.h"

namespace host::lifecycle {

using ossl::UniquePtr;
using ozo::result_t;

namespace {

namespace results = ozo::results;

// Why `certificate` cannot be a client certificate by its key usages, or
// empty: it must be able to sign (TLS client authentication) and, when it
// names purposes, name client authentication.
std::string ClientUseProblem(X509* certificate) {
  const std::uint32_t flags = X509_get_extension_flags(certificate);
  if ((flags & EXFLAG_KUSAGE) && !(X509_get_key_usage(certificate) & KU_DIGITAL_SIGNATURE))
    return "its key usage does not allow a signature, which a TLS client makes";
  if ((flags & EXFLAG_XKUSAGE) && !(X509_get_extended_key_usage(certificate) & (XKU_SSL_CLIENT | XKU_ANYEKU)))
    return "it is no client certificate: its extended key usage lacks clientAuth";
  return "";
}

// A password of 32 random bytes from the system's generator, as hex.
bool RandomPassword(ozo::string8_t& password) {
  unsigned char bytes[32];
  if (::getrandom(bytes, sizeof(bytes), 0) != static_cast<ssize_t>(sizeof(bytes))) return false;
  static constexpr char kDigits[] = "0123456789abcdef";
  char text[2 * sizeof(bytes) + 1] = "";
  for (std::size_t i = 0; i < sizeof(bytes); ++i) {
    text[2 * i] = kDigits[bytes[i] >> 4];
    text[2 * i + 1] = kDigits[bytes[i] & 0xF];
  }
  password = text;
  ::explicit_bzero(bytes, sizeof(bytes));
  ::explicit_bzero(text, sizeof(text));
  return true;
}

// The checks of the certificate against the key and the moment, before
// its chain is judged.
result_t CheckAgainstKey(X509* certificate, EVP_PKEY* key, std::int64_t now, std::string& error) {
  if (X509_check_private_key(certificate, key) != 1) {
    ERR_clear_error();
    error = "its certificate carries the key " + ossl::KeyText(X509_get0_pubkey(certificate)) +
            ", not the pending key " + ossl::KeyText(key);
    return results::NotMatched;
  }
  if (const ozo::result_t dated = CheckValidityPeriod(certificate, now, error); ozo::Failed(dated)) return dated;
  if (std::string problem = ClientUseProblem(certificate); !problem.empty()) {
    error = std::move(problem) + ": the CA must sign it for TLS client authentication";
    return results::InvalidArgument;
  }
  return results::NoError;
}

}  // namespace

result_t PrepareInstallation(LifecycleStore& store, ivo::PeerType type, const std::string& signedFile,
                             const TrustAnchors& anchors, std::int64_t now, Installation& installation,
                             std::string& error) {
  PendingKey pending;
  if (const result_t read = store.GetPendingKey(type, pending); ozo::Failed(read)) {
    if (read == results::NotFound) error = "the " + ClientSlot(type) + " slot has no pending key";
    return read;
  }
  const std::string& file = signedFile.empty() ? pending.certificates : signedFile;
  if (file.empty()) {
    error = "the " + ClientSlot(type) + " slot keeps no signed certificate with its pending key";
    return results::NotFound;
  }
  const std::vector<UniquePtr<X509>> chain = ossl::ReadCertificates(file);
  const UniquePtr<EVP_PKEY> key = KeyOf(pending.key);
  if (chain.empty() || !key) {
    error = chain.empty() ? "it holds no certificate (neither PEM nor DER)" : "the pending key cannot be read";
    return results::InvalidArgument;
  }
  X509* certificate = chain.front().get();
  if (const result_t checked = CheckAgainstKey(certificate, key.get(), now, error); ozo::Failed(checked))
    return checked;
  const std::vector<X509*> given = ossl::Borrowed(chain);
  const std::vector<X509*> untrusted(given.begin() + 1, given.end());
  std::vector<UniquePtr<X509>> verified;
  if (const result_t trusted = VerifyIssued(certificate, untrusted, anchors, now, verified, error);
      ozo::Failed(trusted))
    return trusted;
  ozo::string8_t password;
  const std::string container =
      RandomPassword(password) ? ossl::MakeContainer(key.get(), certificate, ossl::Borrowed(verified), password.c_str())
                               : "";
  if (container.empty()) {
    password.secure_clear();
    error = "the container cannot be made";
    return results::UnspecifiedError;
  }
  installation.record = ivo::ClientCertificate(ozo::blob_t(container.data(), container.size()), password);
  password.secure_clear();
  std::vector<X509*> certificates = {certificate};
  for (const UniquePtr<X509>& each : verified) certificates.push_back(each.get());
  installation.certificates = ossl::PemOf(certificates);
  installation.subject = ossl::NameText(X509_get_subject_name(certificate));
  installation.serial = ossl::SerialHex(certificate);
  installation.notBefore = ossl::SecondsOf(X509_get0_notBefore(certificate)).value_or(0);
  installation.notAfter = ossl::SecondsOf(X509_get0_notAfter(certificate)).value_or(0);
  installation.keyPrint = KeyPrint(pending.key);
  return results::NoError;
}

result_t CompleteInstallation(LifecycleStore& store, ivo::ICertificatesManager& manager, ivo::PeerType type,
                              const Installation& installation, const ivo::ChangeInitiator& initiator, bool* refused) {
  PendingKey pending;
  if (const result_t read = store.GetPendingKey(type, pending); ozo::Failed(read)) return read;
  if (KeyPrint(pending.key) != installation.keyPrint) return results::InvalidState;
  const result_t stored = manager.SetClientCertificate(type, installation.record, initiator);
  if (ozo::Failed(stored)) {
    if (refused) *refused = true;
    return stored;
  }
  if (const result_t cleared = store.RemovePendingKey(type); ozo::Failed(cleared)) return cleared;
  return store.Journal(
      OperationRecord("install", ClientSlot(type), "the pending key with " + installation.subject, initiator));
}

HookRun HookRunFor(const std::string& command, ivo::PeerType type, const Installation& installation,
                   const HookVariables& extra, double timeoutSeconds) {
  HookRun run{command,
              {{"CERTCTL_TYPE", type.keyword()},
               {"CERTCTL_SUBJECT", installation.subject},
               {"CERTCTL_NOT_AFTER", ossl::IsoFromSeconds(installation.notAfter)},
               {"CERTCTL_SERIAL", installation.serial}},
              installation.certificates,
              timeoutSeconds};
  run.variables.insert(run.variables.end(), extra.begin(), extra.end());
  return run;
}

}  // namespace host::lifecycle
