#include "host/lifecycle/pending_key.h"

#include <string.h>

#include <ctime>

#include "host/storage/journal_records.h"
#include "ossl/pkcs12.h"
#include "ossl/text.h"

namespace host::lifecycle {

using ossl::UniquePtr;
using ozo::result_t;

namespace {

namespace results = ozo::results;

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
  ossl::WipedBytes bytes;
  if (!info) return false;
  bytes.size(i2d_PKCS8_PRIV_KEY_INFO(info.get(), bytes.out()));
  if (bytes.size() <= 0) return false;
  der.assign(bytes.data(), bytes.data() + bytes.size());
  return true;
}

result_t Journal(LifecycleStore& store, const std::string& operation, ivo::PeerType type, const std::string& detail,
                 const ivo::ChangeInitiator& initiator) {
  return store.Journal(OperationRecord(operation, ClientSlot(type), detail, initiator));
}

// The slot's pending key, `pending` as kept, unless `fresh`; else a new key
// (not kept yet) with `pending` ready to keep it, made by `madeBy`.
result_t LoadOrMake(LifecycleStore& store, ivo::PeerType type, KeyAlgorithm algorithm, bool fresh, const char* madeBy,
                    std::int64_t now, PendingKey& pending, UniquePtr<EVP_PKEY>& key, bool& reused, std::string& error) {
  const result_t read = fresh ? results::NotFound : store.GetPendingKey(type, pending);
  if (ozo::Failed(read) && read != results::NotFound) return read;
  reused = ozo::Succeeded(read);
  key = reused ? KeyOf(pending.key) : MakeKey(algorithm);
  if (!key) {
    error = reused ? "the pending key cannot be read" : "no key could be made";
    return results::UnspecifiedError;
  }
  if (reused) return results::NoError;
  pending = PendingKey();
  pending.created = now;
  pending.madeBy = madeBy;
  if (KeyDer(key.get(), pending.key)) return results::NoError;
  error = "the new key cannot be kept";
  return results::UnspecifiedError;
}

// Keeps `pending` with what `subject` asks for; `pem` receives a request
// for it signed by `key`.
result_t KeepWithSubject(LifecycleStore& store, ivo::PeerType type, EVP_PKEY* key, const RequestSubject& subject,
                         PendingKey& pending, std::string& pem, std::string& error) {
  RequestDocument document;
  if (const result_t signed_ = SignedRequest(key, subject, document, error); ozo::Failed(signed_)) return signed_;
  pem = std::move(document.pem);
  pending.subject = std::move(document.nameDer);
  pending.extensions = std::move(document.extensionsDer);
  return store.PutPendingKey(type, pending);
}

// What the order's request asks for (see KeyOrder).
result_t SubjectFor(LifecycleStore& store, ivo::ICertificatesManager& manager, ivo::PeerType type,
                    const KeyOrder& order, RequestSubject& subject, std::string& error) {
  PendingKey pending;
  const result_t read = store.GetPendingKey(type, pending);
  if (ozo::Failed(read) && read != results::NotFound) return read;
  bool known = ozo::Succeeded(read) && SubjectOfDer(pending.subject, pending.extensions, subject);
  ivo::ClientCertificate record;
  ossl::Container current;
  if (!known && ozo::Succeeded(manager.GetClientCertificate(type, record)) &&
      ossl::OpenContainer(ossl::View(record.certificate), record.password.c_str(), current) ==
          ossl::ContainerProblem::None) {
    subject = SubjectOf(current.certificate.get());
    known = true;
  }
  if (!known && !order.name) {
    error = "the " + ClientSlot(type) + " slot is empty: the request needs a subject";
    return results::NotFound;
  }
  if (order.name) subject.name = *order.name;
  if (order.alternativeNames) subject.alternativeNames = *order.alternativeNames;
  subject = ForClientUse(std::move(subject), order.algorithm);
  return results::NoError;
}

}  // namespace

PendingKey::~PendingKey() {
  if (!key.empty()) ::explicit_bzero(key.data(), key.size());
}

std::string ClientSlot(ivo::PeerType type) { return std::string(type.keyword()) + " client"; }

std::string KeyPrint(const std::vector<unsigned char>& der) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(der.data(), der.size(), digest, &length, EVP_sha256(), nullptr);
  return std::string(reinterpret_cast<char*>(digest), length);
}

UniquePtr<EVP_PKEY> KeyOf(const std::vector<unsigned char>& der) {
  const unsigned char* at = der.data();
  return UniquePtr<EVP_PKEY>(d2i_AutoPrivateKey(nullptr, &at, static_cast<long>(der.size())));
}

Status RequestKey(LifecycleStore& store, ivo::ICertificatesManager& manager, const KeyOrder& order,
                  KeyRequest& request) {
  if (!order.type) return Status(results::InvalidArgument, kNoPeerType);
  if (Status open = NoUnitOpen(store); !open.ok()) return open;
  const ivo::PeerType type = *order.type;
  if (const result_t begun = store.Begin(); ozo::Failed(begun)) return StoreFailure(store, begun);
  std::string error;
  RequestSubject subject;
  PendingKey pending;
  UniquePtr<EVP_PKEY> key;
  result_t result = SubjectFor(store, manager, type, order, subject, error);
  if (ozo::Succeeded(result))
    result = LoadOrMake(store, type, order.algorithm, order.newKey, kMadeByRequest,
                        order.now.value_or(std::time(nullptr)), pending, key, request.reused, error);
  if (ozo::Succeeded(result)) result = KeepWithSubject(store, type, key.get(), subject, pending, request.pem, error);
  if (ozo::Succeeded(result)) {
    request.keyText = ossl::KeyText(key.get());
    result = Journal(store, "request", type, (request.reused ? "the pending key " : "a new key ") + request.keyText,
                     order.initiator);
  }
  if (ozo::Succeeded(result)) result = store.Commit();
  if (ozo::Succeeded(result)) return {};
  const Status failed = error.empty() ? StoreFailure(store, result) : Status(result, error);
  store.Rollback();
  return failed;
}

result_t PendingKeyFor(LifecycleStore& store, ivo::PeerType type, KeyAlgorithm algorithm, const char* madeBy,
                       std::int64_t now, const RequestSubject& subject, UniquePtr<EVP_PKEY>& key, bool& made,
                       std::string& error) {
  PendingKey pending;
  bool reused = false;
  result_t result = LoadOrMake(store, type, algorithm, false, madeBy, now, pending, key, reused, error);
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

Status CancelRequest(LifecycleStore& store, ivo::PeerType type, const ivo::ChangeInitiator& initiator) {
  if (Status open = NoUnitOpen(store); !open.ok()) return open;
  result_t result = store.Begin();
  if (ozo::Succeeded(result)) result = store.RemovePendingKey(type);
  if (result == results::NotFound) {
    store.Rollback();
    return Status(results::False, "no key is pending for the " + ClientSlot(type) + " slot");
  }
  if (ozo::Succeeded(result)) result = Journal(store, "cancel", type, "the pending key dropped", initiator);
  if (ozo::Succeeded(result)) result = store.Commit();
  if (ozo::Succeeded(result)) return {};
  const Status failed = StoreFailure(store, result);
  store.Rollback();
  return failed;
}

result_t KeepPendingCertificate(LifecycleStore& store, ivo::PeerType type, const std::string& certificates,
                                const TrialTarget& trial) {
  PendingKey pending;
  if (const result_t read = store.GetPendingKey(type, pending); ozo::Failed(read)) return read;
  pending.certificates = certificates;
  pending.trialPeer = certificates.empty() ? "" : trial.peer;
  pending.trialServername = certificates.empty() ? "" : trial.servername;
  return store.PutPendingKey(type, pending);
}

}  // namespace host::lifecycle
