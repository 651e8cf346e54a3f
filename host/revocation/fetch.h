// The facts of a revocation check, fetched: the responders a chain's
// certificates name, asked over HTTP, and the CRLs of a file, a URL or the
// certificates' distribution points. What comes back is kept as it came for
// JudgeRevocation.
#pragma once

#include "host/net/deadline.h"
#include "host/revocation/revocation.h"

namespace host::revocation {

// Asks the responder `certificate`'s Authority Information Access names
// about it (`issuer` signed it), by `deadline`, with a nonce.
OcspAnswer AskResponder(X509* certificate, X509* issuer, const host::Deadline& deadline);

// The CRLs of `source` (a file or an http URL fetched by `deadline`: PEM
// or DER, one or more); on failure, none, with `error` saying why.
std::vector<UniquePtr<X509_CRL>> LoadCrls(const std::string& source, const host::Deadline& deadline,
                                          std::string& error);

// What `options` ask to fetch for the certificates below the anchor of
// `chain` (the anchor at `anchorDepth`), every fetch ending by `deadline`:
// a responder is asked for each certificate unless the stapled response
// already settles it (good or revoked). Never throws for what the network
// or a responder does.
RevocationFacts FetchRevocation(const std::vector<X509*>& chain, int anchorDepth, const std::string& stapled,
                                const RevocationOptions& options, const host::Deadline& deadline);

}  // namespace host::revocation
