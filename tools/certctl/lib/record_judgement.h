// How the component sees one stored record on its own: what list, check,
// metrics, inspect, repair and upgrade report of a record, and what keeps
// the component from starting over a store.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "host/module.h"
#include "host/monitoring/stored_verdict.h"
#include "ivo/certificate_type_table.h"
#include "tools/certctl/lib/session.h"

namespace certctl {

using host::monitoring::StatusOf;
using host::monitoring::StoredCertificate;

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
