// Which CA may steer a slot's client certificate, by one rule for all it
// sends: the CA's signed answers and the certificates it issues must both
// chain to the slot's trust anchors, with a path found whatever order the
// candidates came in. A new certificate must also be fit for TLS client use
// at the moment it is checked, and no CA's: otherwise whoever answers for
// the CA (or hands over a file) could put any certificate for the pending
// key into the slot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ivo/certificate_type_table.h"
#include "ivo/certificates_manager.h"
#include "ossl/holders.h"
#include "ozo/result.h"

namespace host::lifecycle {

// The certificates a CA's answers and its new certificates must chain to,
// where they came from, for messages ("ca.pem", "the stored edr server
// certificate"), and why there are none, in words (nothing names a CA, or a
// file was given that holds more than certificates).
struct TrustAnchors {
  std::vector<ossl::UniquePtr<X509>> certificates;
  std::string origin;
  std::string problem;
};

// The anchors of `type`'s CA, the first of: the certificates of `trusted`
// (given now or kept with the renewal settings, read by ossl::ReadAnchorFile:
// certificates only; `origin` names them), the type's stored server
// certificate when it may sign certificates, the CA certificates of the
// client container it would replace. None when none of them is there
// ("nothing says which CA may issue the edr client certificate (...)").
TrustAnchors SlotAnchors(ivo::ICertificatesManager& manager, ivo::PeerType type, const std::string& trusted,
                         const std::string& origin);

// Why `anchors` cannot verify a CA, or empty: they hold no certificate that
// may sign certificates (a peer's own certificate pins nothing a CA sends).
std::string AnchorsProblem(const TrustAnchors& anchors);

// Whether `certificate` may sign certificates, as OpenSSL judges it
// (X509_check_ca: basic constraints CA:TRUE, a key usage keyCertSign, a
// Netscape CA type, or a self-signed version 1 certificate).
bool MaySignCertificates(X509* certificate);

// "it may sign certificates (...)" when `certificate` may (see
// MaySignCertificates), which no client slot takes; empty otherwise.
std::string CaCertificateProblem(X509* certificate);

// Whether `signer` may sign the CA's answers: the CA itself (a certificate
// that may sign certificates) or one the CA made for that (extended key
// usage cmcRA or cmcCA).
bool SpeaksForTheCa(X509* signer);

// Verifies a path from `certificate` to one of `anchors` at `now` (seconds
// since 1970), built from `untrusted`, for `purpose` (X509_PURPOSE_SSL_CLIENT;
// 0: any). A path may end at any anchor (an intermediate given as the
// anchor suffices), and the candidates whose issuer is an anchor, or leads
// to one, are offered first: a cross-signed intermediate verifies whatever
// order the CA sent its versions in (OpenSSL 3.0 takes the first candidate
// issuer and never tries another). Refused ("Prohibited") with `error`
// saying which check failed; "Invalid state" when the anchors cannot
// verify a CA (AnchorsProblem); "Out of memory". On success `chain` holds the verified certificates above
// `certificate`, up to but not including a self-signed root: what a TLS
// client sends with it, and nothing that merely came with it.
ozo::result_t VerifyPath(X509* certificate, const std::vector<X509*>& untrusted, const TrustAnchors& anchors,
                         std::int64_t now, int purpose, std::vector<ossl::UniquePtr<X509>>& chain, std::string& error);

// Whether `certificate` is within its validity period at `now`: refused
// ("Certificate outside its validity period") in words that name its dates
// and, when it starts later, how far this host's clock is behind it (a CA
// whose clock is ahead, or one that signs to start later); "Invalid
// argument" when its dates cannot be read.
ozo::result_t CheckValidityPeriod(X509* certificate, std::int64_t now, std::string& error);

// A newly issued client certificate checked at `now`: refused
// ("Prohibited") when it may sign certificates, else as
// CheckValidityPeriod judges its dates and VerifyPath a path for TLS client
// use ("it does not chain to ...: ...").
ozo::result_t VerifyIssued(X509* certificate, const std::vector<X509*>& untrusted, const TrustAnchors& anchors,
                           std::int64_t now, std::vector<ossl::UniquePtr<X509>>& chain, std::string& error);

}  // namespace host::lifecycle
