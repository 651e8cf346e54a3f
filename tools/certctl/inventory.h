// Every certificate a store holds, as the manager describes it: what list,
// check and metrics report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ivo/certificates_manager.h"
#include "tools/certctl/session.h"

namespace certctl {

struct StoredCertificate {
  ivo::CertificateType type = 0;
  bool client = false;
  // Why the record cannot be decoded (with its stored password, for a
  // client container); empty when it can, and the fields below are set.
  std::string problem;
  std::string subject;
  std::string issuer;
  std::string serial;     // hex octets, as the manager writes them
  std::string notBefore;  // "YYYY-MM-DDTHH:MM:SSZ"
  std::string notAfter;
  std::int64_t notBeforeSeconds = 0;  // since 1970, UTC
  std::int64_t notAfterSeconds = 0;

  const char* kind() const { return client ? "client" : "server"; }
};

// The stored certificates by type, the server's before the client's, read
// through a manager on a read-only session of the store (which changes
// nothing in it); with `events`, the store's event journal too. Throws
// Failure: kExitStore when the store or the library cannot be used, also
// while the certificates are read; kExitFailed when no manager can be made.
// A record that cannot be decoded is listed with its problem instead.
std::vector<StoredCertificate> ReadInventory(const Options& options,
                                             std::vector<ivo::CertificateEvent>* events = nullptr);

// Throws Failure (kExitStore) unless the store exists: monitoring must not
// report a store it was pointed at by mistake as one holding nothing.
void RequireStore(const Options& options);

// Whole days from `now` to `seconds`, rounded down (negative once past).
std::int64_t DaysUntil(std::int64_t seconds, std::int64_t now);

}  // namespace certctl
