// A CA the lifecycle asks for a new certificate. The reference host's speaks
// CMP (CmpAuthority); tests give one that answers as their step wants.
#pragma once

#include <openssl/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/net/deadline.h"
#include "ozo/types/basic_string.h"

namespace host::lifecycle {

struct TrustAnchors;  // host/lifecycle/trust.h

struct CaRequest {
  // GeneralMessage: a general message (genm) under the current pair, which
  // asks for nothing: whether the CA answers, and its answer's protection
  // holds, as a dry run wants to know.
  enum class Kind { Initialization, Certification, KeyUpdate, GeneralMessage };
  Kind kind = Kind::KeyUpdate;
  // Where the CA takes requests (the slot's settings' server), and when the
  // whole exchange must have ended, polling included (null: a CA's own
  // default bound).
  std::string server;
  const Deadline* deadline = nullptr;
  // The clock each check of an answer reads, at the moment it is made
  // (empty: the system's): a CA that polls may sign after the run began.
  std::function<std::int64_t()> now;
  // Signature protection (certification, key update): the current pair,
  // which also gives the new certificate's subject and alternative names.
  X509* certificate = nullptr;
  EVP_PKEY* key = nullptr;
  // MAC protection (initialization): the reference and the one-time secret
  // the CA gave, and the subject asked for.
  std::string reference;
  const ozo::string8_t* secret = nullptr;
  const X509_NAME* subject = nullptr;
  EVP_PKEY* newKey = nullptr;  // the key the new certificate is for (none for a general message)
  // Who may speak for the CA, by one rule (see trust.h): its signed answers
  // and the new certificate must both chain to `anchors`; the answers must
  // be signed by the CA itself, an RA or CA by its extended key usage
  // (cmcRA, cmcCA), or the subject `expectedSender`; a new certificate that
  // does not pass VerifyIssued is rejected to the CA, which is told so.
  const TrustAnchors* anchors = nullptr;
  const X509_NAME* expectedSender = nullptr;
};

// What came of it: the new certificate and its chain as verified against
// the issued anchors, as PEM (what else the CA sent is dropped); or why
// there is none, in words: the CA's status, failure and words, or why the
// transfer or the checks of its answer failed.
struct CaAnswer {
  bool issued = false;
  std::string certificates;
  std::string error;
  // The subject of a signer refused for want of the CA's or an RA's
  // standing (the caller may name it as the expected sender), else empty.
  std::string refusedSender;
  bool answered = false;  // a general message was answered, its protection verified
};

// The kinds of request a renewal's settings name: "ir", "cr", "kur"; false
// for another.
inline bool RequestKindOf(const std::string& name, CaRequest::Kind& kind) {
  if (name == "ir") return kind = CaRequest::Kind::Initialization, true;
  if (name == "cr") return kind = CaRequest::Kind::Certification, true;
  if (name == "kur") return kind = CaRequest::Kind::KeyUpdate, true;
  return false;
}

class CertificateAuthority {
 public:
  virtual ~CertificateAuthority() = default;
  // Never throws; ends by the request's deadline.
  virtual CaAnswer Request(const CaRequest& request) = 0;
};

}  // namespace host::lifecycle
