// What a new client certificate of a slot must chain to before it replaces
// the slot's pair, whichever way it came (install, renew, enroll).
#pragma once

#include <string>

#include "host/certificate_trust.h"
#include "tools/certctl/lib/session.h"

namespace certctl {

// The anchors, the first of: `trusted` (certificates, PEM or DER, given
// with --trusted now or kept with the renewal settings; `origin` names
// them), the type's stored server certificate when it is a CA's, the CA
// certificates of the client container being replaced; none when none of
// them is there (VerifyIssued then refuses, see NoAnchorsRefusal). Throws
// Failure when the store fails.
host::TrustAnchors IssuedCertificateAnchors(Session& session, ivo::CertificateType type, const std::string& trusted,
                                            const std::string& origin);

// The refusal of a slot without trust anchors, naming the fix (kExitUsage).
Failure NoAnchorsRefusal(ivo::CertificateType type);

// Why `bytes`, given as trust anchors, cannot be (a phrase after the
// file's name: "is a private key, not a certificate", "holds a private key
// besides its certificates"), or empty when they hold certificates only.
std::string TrustFileProblem(const ozo::blob_t& bytes);

}  // namespace certctl
