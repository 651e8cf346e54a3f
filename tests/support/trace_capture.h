// Helpers for reading what a host's tracer received.
#pragma once

#include <string>
#include <vector>

#include "host/services/tracer.h"

namespace test {

// The text of the only record at `level`, or a note saying how many there were.
std::string OnlyRecord(const host::Tracer& tracer, std::uint32_t level);

// The host calls in `journal` other than the tracer's.
std::vector<std::string> WithoutTracing(const std::vector<std::string>& journal);

}  // namespace test
