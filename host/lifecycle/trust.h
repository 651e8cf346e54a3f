// Whether a newly issued client certificate may replace a slot's pair. It
// must verify against the anchors its owner trusts for the CA, at the moment
// of installing and for TLS client use, and must be no CA's certificate:
// otherwise whoever answers for the CA (or hands over a file) could put any
// certificate for the pending key into the slot.
#pragma once

#include <openssl/x509.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ivo/certificate_type_table.h"
#include "ivo/certificates_manager.h"
#include "ossl/holders.h"
#include "ozo/result.h"

namespace host::lifecycle {

// The certificates a new client certificate must chain to, and where they
// came from, for messages ("ca.pem", "the stored edr server certificate").
struct TrustAnchors {
  std::vector<ossl::UniquePtr<X509>> certificates;
  std::string origin;
};

// The anchors of `type`'s new client certificates, the first of: the
// certificates of `trusted` (PEM or DER, given now or kept with the renewal
// settings; `origin` names them), the type's stored server certificate when
// it is a CA's, the CA certificates of the client container it replaces.
// None when none of them is there: nothing then says which CA may issue it.
TrustAnchors IssuedAnchors(ivo::ICertificatesManager& manager, ivo::PeerType type, const std::string& trusted,
                           const std::string& origin);

// The certificates the CA's signed answers must chain to: those of
// `trusted`, else the type's stored server certificate (whatever it is).
std::vector<ossl::UniquePtr<X509>> ProtectionAnchors(ivo::ICertificatesManager& manager, ivo::PeerType type,
                                                     const std::string& trusted);

// A verification store of `anchors` for new client certificates: a chain
// may end at any anchor (an intermediate CA given as the anchor suffices)
// and its leaf must be fit for TLS client authentication. Null when OpenSSL
// is out of memory.
ossl::UniquePtr<X509_STORE> IssuedCertificateStore(const std::vector<X509*>& anchors);

// "it is a CA certificate (...)" when `certificate` is a CA's (basic
// constraints CA:TRUE), which no client slot takes; empty otherwise.
std::string CaCertificateProblem(X509* certificate);

// Whether `signer` may sign the CA's answers: the CA itself (a CA
// certificate) or a certificate the CA made for that (extended key usage
// cmcRA or cmcCA).
bool SpeaksForTheCa(X509* signer);

// Verifies `certificate` against `anchors` at `now` (seconds since 1970),
// its chain built from `untrusted`. Refused ("Prohibited", `error` says
// which check failed) when it is a CA certificate or does not chain to an
// anchor for TLS client use at that moment, and ("Invalid state") when
// there are no anchors: nothing then says which CA may issue it. On success
// `chain` holds the verified certificates above it, up to but not including
// a self-signed root: what a TLS client sends with it, and nothing that
// merely came with it.
ozo::result_t VerifyIssued(X509* certificate, const std::vector<X509*>& untrusted, const TrustAnchors& anchors,
                           std::int64_t now, std::vector<ossl::UniquePtr<X509>>& chain, std::string& error);

}  // namespace host::lifecycle
