// How the component sees one stored record on its own: what list, check,
// metrics, inspect, repair and upgrade report of a record, and what keeps
// the component from starting over a store.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "host/module.h"
#include "ivo/certificate_type_table.h"
#include "tools/certctl/lib/session.h"

namespace certctl {

struct StoredCertificate {
  explicit StoredCertificate(ivo::PeerType type) : type(type) {}
  ivo::PeerType type;
  bool client = false;
  // Why the component cannot use the record, as a phrase ("cannot be
  // decoded (0x80000151): its stored password does not open it"); empty when
  // it can, and the fields below are set.
  std::string problem;
  // False when the component refuses to start over the record at all (dates
  // it cannot represent): such a record keeps every slot from being used.
  bool loadable = true;
  std::string subject;
  std::string issuer;
  std::string serial;     // hex octets, as the manager writes them
  std::string notBefore;  // "YYYY-MM-DDTHH:MM:SSZ"
  std::string notAfter;
  std::int64_t notBeforeSeconds = 0;  // since 1970, UTC
  std::int64_t notAfterSeconds = 0;

  const char* kind() const { return client ? "client" : "server"; }
  // "edr server"
  std::string slot() const;
};

// "valid", "expired", "not yet valid" (at `now`, seconds since 1970),
// "cannot be loaded" or "undecodable".
std::string StatusOf(const StoredCertificate& stored, std::int64_t now);

// Creates a manager over a host of its own that holds only `record` in the
// slot of `type` (1-4), and takes down what the manager makes of it: its
// description, or why it cannot decode it, or that it cannot start. The
// reason comes in words from certctl's own reading of the record. Throws
// Failure (kExitFailed) only when the scratch host itself fails.
StoredCertificate JudgeRecord(const host::Module& component, const TraceRoute& trace, ivo::PeerType type,
                              const ivo::ServerCertificate& record);
StoredCertificate JudgeRecord(const host::Module& component, const TraceRoute& trace, ivo::PeerType type,
                              const ivo::ClientCertificate& record);

// Why certctl cannot read the record itself, as a phrase ("is not a
// certificate (neither DER nor PEM)", "cannot be opened with its stored
// password"), or empty when it can; with `dates`, also a date the component
// cannot represent.
std::string ExplainRecord(const ivo::ServerCertificate& record, bool dates);
std::string ExplainRecord(const ivo::ClientCertificate& record, bool dates);

}  // namespace certctl
