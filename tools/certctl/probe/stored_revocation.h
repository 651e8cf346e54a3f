// The stored certificates checked against a CRL: a pinned peer certificate
// the CA has withdrawn, or the slot's own client certificate.
#pragma once

#include <string>
#include <vector>

#include "host/net/deadline.h"
#include "host/revocation/fetch.h"
#include "tools/certctl/cli/values.h"
#include "tools/certctl/lib/session.h"

namespace certctl {

struct SlotRevocation {
  ivo::PeerType type;
  bool client = false;
  CertificateRevocation verdict;  // status unknown with a problem when it cannot be judged
};

// Each stored certificate that a CRL of `source` (a file or an http URL)
// covers, judged by it: the CRL's signature is checked with its issuer's
// certificate, the one among the stored ones and those in the containers
// whose key signed the certificate (unknown when none did), and its
// freshness. Throws Failure (kExitUsage)
// when the source holds no CRL, and when the store fails.
std::vector<SlotRevocation> CheckStoredRevocation(Session& session, const std::string& source,
                                                  const host::Deadline& deadline);

}  // namespace certctl
