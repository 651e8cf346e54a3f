// Helpers for reading what a host's tracer received.
#pragma once

#include <string>
#include <vector>

#include "host/tracer.h"

namespace test {

// Texts of the records at `level`, in commit order.
std::vector<std::string> Records(const host::Tracer& tracer, std::uint32_t level);

// Whether any record at `level` contains `part`.
bool HasRecordContaining(const host::Tracer& tracer, std::uint32_t level, const std::string& part);

}  // namespace test
