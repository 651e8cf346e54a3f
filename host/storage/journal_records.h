// The journal's record of an operation of the host or of a tool on a store,
// beside the component's events: an upgrade or restore that changed a slot,
// a policy lock, a key request. No event of the component describes these,
// and the component's own events are never used for them.
#pragma once

#include <cstdint>
#include <string>

#include "ivo/events.h"

namespace host {

// The record's event type and field ids: far from any of the component's.
constexpr std::uint32_t kOperationRecord = 0x484F5354;  // "HOST"
namespace operation_field {
constexpr std::uint32_t Operation = 0x484F0001;  // "upgrade", "restore", "policy lock", ...
constexpr std::uint32_t Slot = 0x484F0002;       // "edr server"; empty for the store as a whole
constexpr std::uint32_t Detail = 0x484F0003;     // what changed, in words
}  // namespace operation_field

// The record of `operation` on `slot` by `initiator`, dated now.
ivo::CertificateEvent OperationRecord(const std::string& operation, const std::string& slot, const std::string& detail,
                                      const ivo::ChangeInitiator& initiator);

}  // namespace host
