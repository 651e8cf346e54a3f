#include "host/enrollment.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509v3.h>
#include <string.h>
#include <sys/random.h>

#include <cstdio>
#include <ctime>

#include "host/openssl_holders.h"
#include "host/storage/journal_records.h"
#include "ivo/certificate_type_table.h"

namespace host {
namespace {

using ozo::result_t;
namespace results = ozo::results;

// Bytes OpenSSL wrote into memory of its own, copied out and wiped there.
struct OpenSslBytes {
  unsigned char* data = nullptr;
  int size = 0;
  ~OpenSslBytes() { OPENSSL_clear_free(data, size > 0 ? static_cast<std::size_t>(size) : 0); }
};

std::string Slot(ivo::CertificateType type) {
  return std::string(ivo::kCertificateTypeIds[type - 1].keyword) + " client";
}

UniquePtr<EVP_PKEY> MakeKey(KeyAlgorithm algorithm) {
  switch (algorithm) {
    case KeyAlgorithm::EcP256:
      return UniquePtr<EVP_PKEY>(EVP_EC_gen("P-256"));
    case KeyAlgorithm::EcP384:
      return UniquePtr<EVP_PKEY>(EVP_EC_gen("P-384"));
    case KeyAlgorithm::Rsa2048:
      return UniquePtr<EVP_PKEY>(EVP_RSA_gen(2048));
    case KeyAlgorithm::Rsa3072:
      return UniquePtr<EVP_PKEY>(EVP_RSA_gen(3072));
    case KeyAlgorithm::Rsa4096:
      return UniquePtr<EVP_PKEY>(EVP_RSA_gen(4096));
  }
  return nullptr;
}

// The key as PKCS#8 DER, in memory that the caller's PendingKey wipes.
bool KeyDer(EVP_PKEY* key, std::vector<unsigned char>& der) {
  const UniquePtr<PKCS8_PRIV_KEY_INFO> info(EVP_PKEY2PKCS8(key));
  OpenSslBytes bytes;
  if (!info || (bytes.size = i2d_PKCS8_PRIV_KEY_INFO(info.get(), &bytes.data)) <= 0) return false;
  der.assign(bytes.data, bytes.data + bytes.size);
  return true;
}

UniquePtr<EVP_PKEY> KeyOf(const std::vector<unsigned char>& der) {
  const unsigned char* at = der.data();
  return UniquePtr<EVP_PKEY>(d2i_AutoPrivateKey(nullptr, &at, static_cast<long>(der.size())));
}

std::string Pem(const std::vector<X509*>& certificates) {
  UniquePtr<BIO> bio(BIO_new(BIO_s_mem()));
  for (X509* certificate : certificates) PEM_write_bio_X509(bio.get(), certificate);
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

// The certificates of a PEM file, else of concatenated DER ones.
std::vector<UniquePtr<X509>> ReadCertificates(const std::string& bytes) {
  std::vector<UniquePtr<X509>> certificates;
  UniquePtr<BIO> bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
  while (UniquePtr<X509> certificate{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)})
    certificates.push_back(std::move(certificate));
  const auto* next = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = next + bytes.size();
  while (certificates.empty() || (next != reinterpret_cast<const unsigned char*>(bytes.data()) && next < end)) {
    UniquePtr<X509> certificate(d2i_X509(nullptr, &next, end - next));
    if (!certificate) break;
    certificates.push_back(std::move(certificate));
  }
  ERR_clear_error();
  return certificates;
}

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

// Which private key `der` is: its SHA-256, as bytes.
std::string KeyPrint(const std::vector<unsigned char>& der) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(der.data(), der.size(), digest, &length, EVP_sha256(), nullptr);
  return std::string(reinterpret_cast<char*>(digest), length);
}

std::string SerialText(X509* certificate) {
  const UniquePtr<BIGNUM> serial(ASN1_INTEGER_to_BN(X509_get0_serialNumber(certificate), nullptr));
  const OpenSslMemory<char> hex(serial ? BN_bn2hex(serial.get()) : nullptr);
  return hex ? hex.get() : "";
}

// Seconds since 1970.
std::int64_t Seconds(const ASN1_TIME* time) {
  std::tm parts{};
  return ASN1_TIME_to_tm(time, &parts) ? static_cast<std::int64_t>(::timegm(&parts)) : 0;
}

// "2020-01-01T00:00:00Z".
std::string IsoText(const ASN1_TIME* time) {
  std::tm parts{};
  char text[32] = "?";
  if (ASN1_TIME_to_tm(time, &parts)) std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
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

// The container of key, certificate and chain under `password`: the key
// shrouded with AES-256-CBC and PBKDF2 (SHA-256), the certificates in the
// clear (they are public: a TLS 1.2 handshake sends them so), a SHA-256 MAC
// over all. Each key derivation costs every later reading of the container
// (the component's start-up check reads it at each start), so public data
// gets none.
bool Container(EVP_PKEY* key, X509* certificate, const std::vector<UniquePtr<X509>>& chain,
               const ozo::string8_t& password, ozo::blob_t& bytes) {
  const UniquePtr<STACK_OF(X509)> others = CertificateStack(chain);
  if (!others) return false;
  const UniquePtr<PKCS12> container(PKCS12_create_ex(password.c_str(), nullptr, key, certificate, others.get(),
                                                     NID_aes_256_cbc, -1, PKCS12_DEFAULT_ITER, -1, 0, nullptr,
                                                     nullptr));
  OpenSslBytes der;
  if (!container ||
      !PKCS12_set_mac(container.get(), password.c_str(), -1, nullptr, 0, PKCS12_DEFAULT_ITER, EVP_sha256()) ||
      (der.size = i2d_PKCS12(container.get(), &der.data)) <= 0)
    return false;
  bytes = ozo::blob_t(der.data, static_cast<std::size_t>(der.size));
  return true;
}

result_t Journal(SqliteStore& store, const std::string& operation, ivo::CertificateType type, const std::string& detail,
                 const ivo::ChangeInitiator& initiator) {
  return store.AppendEvent(OperationRecord(operation, Slot(type), detail, initiator));
}

// The slot's pending key, `pending` as kept, unless `fresh`; else a new key
// (not kept yet) with `pending` ready to keep it.
result_t LoadOrMake(SqliteStore& store, ivo::CertificateType type, KeyAlgorithm algorithm, bool fresh,
                    SqliteStore::PendingKey& pending, UniquePtr<EVP_PKEY>& key, bool& reused, std::string& error) {
  const result_t read = fresh ? results::NotFound : store.GetPendingKey(type, pending);
  if (ozo::Failed(read) && read != results::NotFound) return read;
  reused = ozo::Succeeded(read);
  key = reused ? KeyOf(pending.key) : MakeKey(algorithm);
  if (!key) {
    error = reused ? "the pending key cannot be read" : "no key could be made";
    return results::UnspecifiedError;
  }
  if (reused) return results::NoError;
  pending = SqliteStore::PendingKey();
  pending.created = static_cast<std::int64_t>(std::time(nullptr));
  if (KeyDer(key.get(), pending.key)) return results::NoError;
  error = "the new key cannot be kept";
  return results::UnspecifiedError;
}

// Keeps `pending` with what `subject` asks for; `pem` receives a request
// for it signed by `key`.
result_t KeepWithSubject(SqliteStore& store, ivo::CertificateType type, EVP_PKEY* key, const RequestSubject& subject,
                         SqliteStore::PendingKey& pending, std::string& pem, std::string& error) {
  RequestDocument document;
  if (!SignedRequest(key, subject, document, error)) return results::InvalidArgument;
  pem = std::move(document.pem);
  pending.subject = std::move(document.nameDer);
  pending.extensions = std::move(document.extensionsDer);
  return store.PutPendingKey(type, pending);
}

}  // namespace

std::string KeyText(EVP_PKEY* key) {
  char group[64] = "";
  std::size_t length = 0;
  const int type = EVP_PKEY_get_base_id(key);
  std::string text =
      type == EVP_PKEY_RSA ? "RSA " + std::to_string(EVP_PKEY_get_bits(key))
      : type == EVP_PKEY_EC && EVP_PKEY_get_utf8_string_param(key, "group", group, sizeof(group), &length)
          ? std::string("EC ") + (std::string(group) == "prime256v1" ? "P-256" : group)
          : OBJ_nid2sn(type);
  OpenSslBytes spki;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digestLength = 0;
  if ((spki.size = i2d_PUBKEY(key, &spki.data)) <= 0 ||
      !EVP_Digest(spki.data, static_cast<std::size_t>(spki.size), digest, &digestLength, EVP_sha256(), nullptr))
    return text;
  text += " SHA256";
  for (unsigned int i = 0; i < 8; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof(hex), ":%02x", digest[i]);
    text += hex;
  }
  return text;
}

result_t RequestKey(SqliteStore& store, ivo::CertificateType type, KeyAlgorithm algorithm,
                    const RequestSubject& subject, bool newKey, const ivo::ChangeInitiator& initiator,
                    KeyRequest& request, std::string& error) {
  SqliteStore::PendingKey pending;
  UniquePtr<EVP_PKEY> key;
  result_t result = LoadOrMake(store, type, algorithm, newKey, pending, key, request.reused, error);
  if (ozo::Succeeded(result)) result = KeepWithSubject(store, type, key.get(), subject, pending, request.pem, error);
  if (ozo::Failed(result)) return result;
  request.keyText = KeyText(key.get());
  return Journal(store, "request", type, (request.reused ? "the pending key " : "a new key ") + request.keyText,
                 initiator);
}

result_t PendingKeyFor(SqliteStore& store, ivo::CertificateType type, KeyAlgorithm algorithm,
                       const RequestSubject& subject, UniquePtr<EVP_PKEY>& key, bool& made, std::string& error) {
  SqliteStore::PendingKey pending;
  bool reused = false;
  result_t result = LoadOrMake(store, type, algorithm, false, pending, key, reused, error);
  made = !reused;
  std::string unused;
  if (ozo::Succeeded(result) && made) result = KeepWithSubject(store, type, key.get(), subject, pending, unused, error);
  return result;
}

KeyAlgorithm KeyAlgorithmLike(EVP_PKEY* key) {
  const int bits = EVP_PKEY_get_bits(key);
  if (EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA)
    return bits > 3072 ? KeyAlgorithm::Rsa4096 : bits > 2048 ? KeyAlgorithm::Rsa3072 : KeyAlgorithm::Rsa2048;
  return EVP_PKEY_get_base_id(key) == EVP_PKEY_EC && bits > 256 ? KeyAlgorithm::EcP384 : KeyAlgorithm::EcP256;
}

result_t PendingRequestSubject(SqliteStore& store, ivo::CertificateType type, RequestSubject& subject) {
  SqliteStore::PendingKey pending;
  if (const result_t read = store.GetPendingKey(type, pending); ozo::Failed(read)) return read;
  return SubjectOfDer(pending.subject, pending.extensions, subject) ? results::NoError : results::NotFound;
}

result_t CancelRequest(SqliteStore& store, ivo::CertificateType type, const ivo::ChangeInitiator& initiator) {
  if (const result_t removed = store.RemovePendingKey(type); ozo::Failed(removed)) return removed;
  return Journal(store, "cancel", type, "the pending key dropped", initiator);
}

result_t PrepareInstallation(SqliteStore& store, ivo::CertificateType type, const std::string& signedFile,
                             const TrustAnchors& anchors, std::int64_t now, Installation& installation,
                             std::string& error) {
  SqliteStore::PendingKey pending;
  if (const result_t read = store.GetPendingKey(type, pending); ozo::Failed(read)) {
    if (read == results::NotFound) error = "the " + Slot(type) + " slot has no pending key";
    return read;
  }
  const std::string& file = signedFile.empty() ? pending.certificates : signedFile;
  if (file.empty()) {
    error = "the " + Slot(type) + " slot keeps no signed certificate with its pending key";
    return results::NotFound;
  }
  const std::vector<UniquePtr<X509>> chain = ReadCertificates(file);
  const UniquePtr<EVP_PKEY> key = KeyOf(pending.key);
  if (chain.empty() || !key) {
    error = chain.empty() ? "it holds no certificate (neither PEM nor DER)" : "the pending key cannot be read";
    return results::InvalidArgument;
  }
  X509* certificate = chain.front().get();
  if (X509_check_private_key(certificate, key.get()) != 1) {
    ERR_clear_error();
    error = "its certificate carries the key " + KeyText(X509_get0_pubkey(certificate)) + ", not the pending key " +
            KeyText(key.get());
    return results::NotMatched;
  }
  const std::time_t at = static_cast<std::time_t>(now);
  if (X509_cmp_time(X509_get0_notAfter(certificate), const_cast<std::time_t*>(&at)) <= 0 ||
      X509_cmp_time(X509_get0_notBefore(certificate), const_cast<std::time_t*>(&at)) > 0) {
    error = "its certificate is valid from " + IsoText(X509_get0_notBefore(certificate)) + " to " +
            IsoText(X509_get0_notAfter(certificate)) + ", not now: the CA must sign it anew";
    return results::CertificateOutOfValidityPeriod;
  }
  if (std::string problem = ClientUseProblem(certificate); !problem.empty()) {
    error = std::move(problem) + ": the CA must sign it for TLS client authentication";
    return results::InvalidArgument;
  }
  std::vector<X509*> untrusted;
  for (std::size_t i = 1; i < chain.size(); ++i) untrusted.push_back(chain[i].get());
  std::vector<UniquePtr<X509>> verified;
  if (const result_t trusted = VerifyIssued(certificate, untrusted, anchors, now, verified, error);
      ozo::Failed(trusted))
    return trusted;
  ozo::string8_t password;
  ozo::blob_t bytes;
  if (!RandomPassword(password) || !Container(key.get(), certificate, verified, password, bytes)) {
    password.secure_clear();
    error = "the container cannot be made";
    return results::UnspecifiedError;
  }
  installation.record = ivo::ClientCertificate(bytes, password);
  password.secure_clear();
  std::vector<X509*> certificates = {certificate};
  for (const UniquePtr<X509>& each : verified) certificates.push_back(each.get());
  installation.certificates = Pem(certificates);
  installation.subject = NameText(X509_get_subject_name(certificate));
  installation.serial = SerialText(certificate);
  installation.notBefore = Seconds(X509_get0_notBefore(certificate));
  installation.notAfter = Seconds(X509_get0_notAfter(certificate));
  installation.keyPrint = KeyPrint(pending.key);
  return results::NoError;
}

result_t CompleteInstallation(SqliteStore& store, ivo::ICertificatesManager& manager, ivo::CertificateType type,
                              const Installation& installation, const ivo::ChangeInitiator& initiator) {
  SqliteStore::PendingKey pending;
  if (const result_t read = store.GetPendingKey(type, pending); ozo::Failed(read)) return read;
  if (KeyPrint(pending.key) != installation.keyPrint) return results::InvalidState;
  const result_t stored = manager.SetClientCertificate(type, installation.record, initiator);
  if (ozo::Failed(stored)) return stored;
  if (const result_t cleared = store.RemovePendingKey(type); ozo::Failed(cleared)) return cleared;
  return Journal(store, "install", type, "the pending key with " + installation.subject, initiator);
}

result_t KeepPendingCertificate(SqliteStore& store, ivo::CertificateType type, const std::string& certificates) {
  SqliteStore::PendingKey pending;
  if (const result_t read = store.GetPendingKey(type, pending); ozo::Failed(read)) return read;
  pending.certificates = certificates;
  return store.PutPendingKey(type, pending);
}

}  // namespace host
