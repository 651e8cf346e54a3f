// What a client slot's lifecycle keeps beside the component's record: the
// pending key with what its request asked for, how the slot is renewed,
// and what its renewals have come to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace host::lifecycle {

// What made a pending key that a person's request made (PendingKey::madeBy).
inline constexpr const char* kMadeByRequest = "request";

// Why an order without a peer type is refused.
inline constexpr const char* kNoPeerType = "the order names no peer type (edr, sandbox, ndr or siem)";

// The kinds of key a slot's pending key may be.
enum class KeyAlgorithm { EcP256, EcP384, Rsa2048, Rsa3072, Rsa4096 };

// A name's fields in order ({"CN", "agent"}).
using NameFields = std::vector<std::pair<std::string, std::string>>;

// What a certificate request asks for. Subject alternative names in
// openssl's words ("DNS:agent.test", "IP:10.0.0.1", "email:a@b",
// "URI:https://x"); usages in openssl's words ("digitalSignature",
// "clientAuth").
struct RequestSubject {
  NameFields name;
  std::vector<std::string> alternativeNames;
  std::vector<std::string> keyUsage;
  std::vector<std::string> extendedKeyUsage;
};

// A key made for the slot's next certificate, kept until that certificate
// is installed (or the key is dropped): the private key (DER, PKCS#8), when
// it was made, what its last request asked for, and a signed certificate
// kept with it (one whose trial against the peer failed waits for the
// peer, and the peer it was tried against, so that a retry tries it again).
// The key is wiped when the object goes.
struct PendingKey {
  std::int64_t created = 0;
  // What made the key, and so what takes it on: "request" (a request
  // written out, whose certificate a person installs), "renew" or
  // "enroll" (an exchange with the CA, which the same command runs again).
  std::string madeBy;
  std::vector<unsigned char> key;
  std::string subject;       // DER: the subject name of the last request made for the key
  std::string extensions;    // DER: its extensions; empty when it had none
  std::string certificates;  // PEM; empty when none is kept
  std::string trialPeer;     // "HOST:PORT" that refused the kept certificate; empty: none
  std::string trialServername;
  PendingKey() = default;
  PendingKey(const PendingKey&) = default;
  PendingKey& operator=(const PendingKey&) = default;
  ~PendingKey();
};

// A peer a new pair is tried against before it replaces the old one, and
// the name sent to it (empty: none, the peer checked against its address).
struct TrialTarget {
  std::string peer;  // "HOST[:PORT]"; empty: no trial
  std::string servername;
  bool empty() const { return peer.empty(); }
};

// The trial `pending` keeps for its certificate (empty when none).
inline TrialTarget KeptTrial(const PendingKey& pending) { return {pending.trialPeer, pending.trialServername}; }

// How a slot's client certificate is renewed on its own: the CA's URL, the
// request ("kur" or "cr"), the certificates the CA's answers and the new
// certificates must chain to (PEM or DER; empty: see SlotAnchors), the
// trial's peer and name, renewal this many days before the end (besides at
// two thirds of the lifetime), a command run after each renewal, and the
// subject the CA's answers must be signed by (DER; empty: any CA or RA
// certificate).
struct RenewalConfig {
  std::string server;
  std::string command = "kur";
  std::string trusted;
  std::string trialPeer;
  std::optional<std::int64_t> beforeDays;
  std::string hook;
  std::string sender;
  std::string trialServername;
  TrialTarget trial() const { return {trialPeer, trialServername}; }
};

// What a slot's renewals have come to: times in seconds since 1970, the
// failures since the last success, and the last error in words.
struct RenewalState {
  std::optional<std::int64_t> lastAttempt;
  std::optional<std::int64_t> lastSuccess;
  std::int64_t failures = 0;
  std::optional<std::int64_t> nextAttempt;
  std::string lastError;
  std::string hookError;  // the last run's hook failure, empty when it worked
};

}  // namespace host::lifecycle
