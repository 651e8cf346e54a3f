// A new key and certificate for a type's client slot, as a host makes them:
// a fresh key kept in the store as the slot's pending key, a PKCS#10 request
// for it, and the signed certificate installed with that key through the
// component, in one unit of work with the key's removal.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/certificate_trust.h"
#include "host/openssl_holders.h"
#include "host/request_subject.h"
#include "host/storage/sqlite_store.h"
#include "ivo/certificates_manager.h"

namespace host {

enum class KeyAlgorithm { EcP256, EcP384, Rsa2048, Rsa3072, Rsa4096 };

// The request made for a slot: PEM text, and whether the pending key was
// there already (reused) or made now.
struct KeyRequest {
  std::string pem;
  bool reused = false;
  std::string keyText;  // "EC P-256 SHA256:12:34:56:78:9a:bc:de:f0"
};

// Makes the pending key of `type`'s client slot (or reuses the one pending,
// unless `newKey`) and returns a request for it with `subject`, kept with
// the key (a later request without a subject may ask the same), within the
// store's current unit of work (the host commits), journalled as an
// operation "request" by `initiator`. The key lives only in the store
// (owner-only) and in memory that is wiped. On failure `error` says why.
ozo::result_t RequestKey(SqliteStore& store, ivo::CertificateType type, KeyAlgorithm algorithm,
                         const RequestSubject& subject, bool newKey, const ivo::ChangeInitiator& initiator,
                         KeyRequest& request, std::string& error);

// The slot's pending key for a request made elsewhere (a CMP exchange):
// the one kept, else a new one made with `algorithm` and kept (in the
// store's current unit of work) with what `subject` asks for; `made` says
// which.
ozo::result_t PendingKeyFor(SqliteStore& store, ivo::CertificateType type, KeyAlgorithm algorithm,
                            const RequestSubject& subject, UniquePtr<EVP_PKEY>& key, bool& made, std::string& error);

// The algorithm of a new key to replace `key`: the same kind and size
// (EC P-256 for a kind it cannot make).
KeyAlgorithm KeyAlgorithmLike(EVP_PKEY* key);

// What the slot's pending request asked for ("Not found" without one).
ozo::result_t PendingRequestSubject(SqliteStore& store, ivo::CertificateType type, RequestSubject& subject);

// Drops the slot's pending key ("Not found" when there is none), journalled
// as an operation "cancel".
ozo::result_t CancelRequest(SqliteStore& store, ivo::CertificateType type, const ivo::ChangeInitiator& initiator);

// A signed certificate checked against the pending key and wrapped with it
// into a PKCS#12 container (the key shrouded with AES-256-CBC and PBKDF2
// with SHA-256, the public certificates in the clear, a SHA-256 MAC)
// under a fresh random password (32 bytes from the system's generator, as
// hex), ready to store. The record wipes the password.
struct Installation {
  ivo::ClientCertificate record;
  std::string subject;  // for messages
  std::string serial;   // upper-case hex, as openssl x509 -serial prints it
  std::int64_t notBefore = 0;
  std::int64_t notAfter = 0;
  std::string certificates;  // the signed certificate and its verified chain, PEM: kept pending when the swap waits
  std::string keyPrint;      // which pending key it was made with
};

// Checks `signedFile` (PEM or DER, the certificate first, then what may
// build its chain) against the slot's pending key: refused ("Not found")
// without a pending key; refused when the certificate carries another key
// ("Not matched", the sentence names both), is outside its validity period
// at `now` (the component's code for that), or is no client certificate by
// its key usages or cannot be read ("Invalid argument"); refused
// ("Prohibited") when it is a CA certificate or does not chain to `anchors`
// at `now`, and ("Invalid state") when there are no anchors (see
// VerifyIssued). The container holds the certificate and its
// verified chain, nothing else the file held. With an empty `signedFile`,
// the certificate the slot keeps pending (see KeepPendingCertificate) is
// taken.
ozo::result_t PrepareInstallation(SqliteStore& store, ivo::CertificateType type, const std::string& signedFile,
                                  const TrustAnchors& anchors, std::int64_t now, Installation& installation,
                                  std::string& error);

// Stores the prepared pair through `manager` (so the policy is asked and the
// Removed and Added events are published), clears the pending key and
// journals an operation "install", all in the store's current unit of work:
// a host that commits it keeps the new pair and no pending key, one that
// rolls back keeps the old pair and the pending key. Returns the manager's
// result on a refusal, and "Invalid state" when the slot's pending key is
// no longer the one the installation was prepared with.
ozo::result_t CompleteInstallation(SqliteStore& store, ivo::ICertificatesManager& manager, ivo::CertificateType type,
                                   const Installation& installation, const ivo::ChangeInitiator& initiator);

// Keeps the signed certificate with the pending key, for a later install
// (one whose trial against the peer failed waits for the peer).
ozo::result_t KeepPendingCertificate(SqliteStore& store, ivo::CertificateType type, const std::string& certificates);

// "EC P-256 SHA256:12:34:56:78:9a:bc:de:f0": a public key, by algorithm and
// the start of its SubjectPublicKeyInfo's SHA-256.
std::string KeyText(EVP_PKEY* key);

}  // namespace host
