// Helpers for reading what a host's tracer received.
#pragma once

#include <string>
#include <vector>

#include "host/tracer.h"

namespace test {

// Texts of the records at `level`, in commit order.
std::vector<std::string> Records(const host::Tracer& tracer, std::uint32_t level);

// The text of the only record at `level`, or a note saying how many there were.
std::string OnlyRecord(const host::Tracer& tracer, std::uint32_t level);

// Whether any record at `level` contains `part`.
bool HasRecordContaining(const host::Tracer& tracer, std::uint32_t level, const std::string& part);

// The host calls in `journal` other than the tracer's.
std::vector<std::string> WithoutTracing(const std::vector<std::string>& journal);

}  // namespace test
