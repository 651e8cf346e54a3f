// What makes a slot's lifecycle rows usable: the checks every row passes
// before it is acted on when it comes from outside the commands that write
// it (a backup restored), so that a row no command would write is dropped
// in words, never acted on.
#pragma once

#include <cstdint>
#include <string>

#include "host/lifecycle/records.h"
#include "host/lifecycle/schedule.h"

namespace host::lifecycle {

// The most days before the end a renewal may be set to take place.
constexpr std::int64_t kMaxBeforeDays = 999'999'999;

// Why renewal settings cannot work, or empty: a request other than kur or
// cr, a server that is no http URL of a host (ReadCmpAddress), days before
// the end outside 0 to kMaxBeforeDays, trust anchors that are not
// certificates only (ossl::ReadAnchorFile), an expected sender that is no
// DER name.
std::string SettingsProblem(const RenewalConfig& config);

// Why a renewal state cannot be, or empty: failures outside 0 to
// kMaxFailures, a time before 1970 or after 9999.
std::string StateProblem(const RenewalState& state);

// Why a pending key cannot be used, or empty: its key cannot be read, or
// it was made before 1970 or after 9999.
std::string PendingKeyProblem(const PendingKey& pending);

}  // namespace host::lifecycle
