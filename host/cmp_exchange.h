// A certificate from a CA over CMP (RFC 4210, in the lightweight profile of
// RFC 9483), by OpenSSL's own client and HTTP transfer: an initialization
// request protected by a shared secret, or a certification or key update
// request protected by the current certificate and key.
#pragma once

#include <openssl/x509.h>

#include <string>
#include <vector>

#include "host/certificate_trust.h"
#include "ozo/types/basic_string.h"

namespace host {

enum class CmpRequest { Initialization, Certification, KeyUpdate };

// Names as `certctl` takes them: "ir", "cr", "kur"; false for another.
bool CmpRequestOf(const std::string& name, CmpRequest& request);

struct CmpExchange {
  std::string server;  // "http://HOST[:PORT][/PATH]" or "HOST[:PORT][/PATH]"
  CmpRequest request = CmpRequest::KeyUpdate;
  // The CA's signed answers must chain to one of these, and their signer
  // must be the CA itself (a CA certificate), an RA or CA by its extended
  // key usage (cmcRA, cmcCA), or carry `expectedSender` as its subject.
  std::vector<X509*> trusted;
  const X509_NAME* expectedSender = nullptr;
  // The new certificate must chain to one of these (see VerifyIssued): one
  // that does not is rejected to the CA in the certificate confirmation.
  // Kept apart from `trusted`, which only says who may speak for the CA.
  const TrustAnchors* issuedAnchors = nullptr;
  // Signature protection (certification, key update): the current pair,
  // which also gives the new certificate's subject and alternative names.
  X509* certificate = nullptr;
  EVP_PKEY* key = nullptr;
  // MAC protection (initialization): the reference and the one-time secret
  // the CA gave, and the subject asked for.
  std::string reference;
  const ozo::string8_t* secret = nullptr;
  const X509_NAME* subject = nullptr;
  EVP_PKEY* newKey = nullptr;  // the key the new certificate is for
  int timeoutSeconds = 30;     // bounds the whole exchange, polling included
};

// What came of it: the new certificate and its chain as verified against
// `issuedAnchors`, as PEM (the CA's other extra certificates are dropped);
// or why there is none, in words: the CA's PKIStatus, failure and status
// string, or why the transfer or the checks of its answer failed.
struct CmpOutcome {
  bool issued = false;
  std::string certificates;
  std::string error;
  // The subject of a signer refused for want of the CA's or an RA's
  // standing (the caller may name it as the expected sender), else empty.
  std::string refusedSender;
};

// Never throws; leaves OpenSSL's error queue empty.
CmpOutcome ExchangeCmp(const CmpExchange& exchange);

}  // namespace host
