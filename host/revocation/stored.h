// The stored certificates checked against a CRL: a pinned peer certificate
// the CA has withdrawn, or a slot's own client certificate.
#pragma once

#include <string>
#include <vector>

#include "host/net/deadline.h"
#include "host/revocation/revocation.h"
#include "host/service_host.h"
#include "host/status.h"
#include "host/storage/sqlite_store.h"
#include "ivo/certificate_type_table.h"

namespace host::revocation {

struct SlotRevocation {
  ivo::PeerType type;
  bool client = false;
  CertificateRevocation verdict;  // status unknown with a problem when it cannot be judged
};

// Each certificate of `store` (read through `services`) that a CRL of
// `source` (a file or an http URL, fetched by `deadline`) covers, judged by
// it into `found`: the CRL's signature is checked with its issuer's
// certificate, the one among the stored ones and those in the containers
// whose key signed the certificate (unknown when none did), and its
// freshness. Refused: a source that holds no CRL ("Invalid argument", in
// LoadCrls' words), the store's failure (storeFailed, in its words).
Status CheckStoredByCrl(ServiceHost& services, SqliteStore& store, const std::string& source, const Deadline& deadline,
                        std::vector<SlotRevocation>& found);

}  // namespace host::revocation
