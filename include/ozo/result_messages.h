// Messages of result codes and the mapping from operating-system errors: what
// a host prints for a code. Implemented by the framework runtime.
#pragma once

#include <cstdint>
#include <string_view>

#include "ozo/result.h"

namespace ozo {

// The constant, static message of any code; "Unknown result code" for codes
// without one. Never allocates.
std::string_view GetResultMessage(result_t result) noexcept;

// The result for an operating-system error number (0 gives 0).
result_t ResultFromErrno(std::int32_t error) noexcept;

}  // namespace ozo
