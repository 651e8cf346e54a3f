// A client slot's pending key: made (or taken again) for a request, kept in
// the host's store only (owner-only there, wiped in memory), until the
// certificate signed for it is installed or the key is dropped.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/lifecycle/request.h"
#include "host/lifecycle/store.h"
#include "host/status.h"
#include "ivo/certificates_manager.h"

namespace host::lifecycle {

struct KeyOrder {
  std::optional<ivo::PeerType> type;              // none: the order is refused
  KeyAlgorithm algorithm = KeyAlgorithm::EcP256;  // of a key made now
  bool newKey = false;                            // make one even when a key is pending
  // What the request asks for over what was asked before: the pending
  // request's subject, else what the slot's certificate holds, completed
  // for client use (see ForClientUse). An empty slot needs a name.
  std::optional<NameFields> name;
  std::optional<std::vector<std::string>> alternativeNames;
  ivo::ChangeInitiator initiator;
  std::optional<std::int64_t> now;  // when the key is made; none: the system's clock
};

// The request made for a slot: PEM text, and whether the pending key was
// there already (reused) or made now.
struct KeyRequest {
  std::string pem;
  bool reused = false;
  std::string keyText;  // "EC P-256 SHA256:12:34:56:78:9a:bc:de:f0"
};

// Makes the pending key of the order's slot (or reuses the one pending)
// and returns a request for it, kept with the key (a later request without
// a subject asks the same), journalled as an operation "request", in a unit
// of work of its own (call it with none open). Refused: an order for no
// type or a name OpenSSL refuses ("Invalid argument"), an empty slot without
// a name ("Not found"); the store's failures with its words.
Status RequestKey(LifecycleStore& store, ivo::ICertificatesManager& manager, const KeyOrder& order,
                  KeyRequest& request);

// A building block of the library's calls, within the caller's unit of
// work: the slot's pending key for a request made elsewhere (a CA exchange
// of the operation `madeBy`, "renew" or "enroll"): the one kept, else a new
// one made with `algorithm` at `now` and kept with what `subject` asks
// for; `made` says which.
ozo::result_t PendingKeyFor(LifecycleStore& store, ivo::PeerType type, KeyAlgorithm algorithm, const char* madeBy,
                            std::int64_t now, const RequestSubject& subject, ossl::UniquePtr<EVP_PKEY>& key, bool& made,
                            std::string& error);

// The algorithm of a new key to replace `key`: the same kind and size
// (EC P-256 for a kind it cannot make).
KeyAlgorithm KeyAlgorithmLike(EVP_PKEY* key);

// Drops the slot's pending key ("False" when there is none), journalled as
// an operation "cancel", in a unit of work of its own.
Status CancelRequest(LifecycleStore& store, ivo::PeerType type, const ivo::ChangeInitiator& initiator);

// A building block, within the caller's unit of work: keeps `certificates`
// (PEM) with the pending key, for a later install
// (one whose trial against the peer failed waits for the peer), with the
// peer that refused it (`trial`: a retry tries it again); empty
// certificates drop what was kept, the peer with them.
ozo::result_t KeepPendingCertificate(LifecycleStore& store, ivo::PeerType type, const std::string& certificates,
                                     const TrialTarget& trial = {});

// Which private key a pending key's DER is (its SHA-256, as bytes): a run
// that used a pending key tells by it whether another replaced it since.
std::string KeyPrint(const std::vector<unsigned char>& der);

// The private key a pending key's DER holds; null when it cannot be read.
ossl::UniquePtr<EVP_PKEY> KeyOf(const std::vector<unsigned char>& der);

// "edr client": the slot, as the journal names it.
std::string ClientSlot(ivo::PeerType type);

}  // namespace host::lifecycle
