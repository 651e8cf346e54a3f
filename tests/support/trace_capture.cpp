#include "tests/support/trace_capture.h"

namespace test {

std::vector<std::string> Records(const host::Tracer& tracer, std::uint32_t level) { return tracer.texts(level); }

bool HasRecordContaining(const host::Tracer& tracer, std::uint32_t level, const std::string& part) {
  for (const std::string& text : tracer.texts(level))
    if (text.find(part) != std::string::npos) return true;
  return false;
}

}  // namespace test
