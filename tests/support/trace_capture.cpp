#include "tests/support/trace_capture.h"

namespace test {

std::vector<std::string> Records(const host::Tracer& tracer, std::uint32_t level) { return tracer.texts(level); }

std::string OnlyRecord(const host::Tracer& tracer, std::uint32_t level) {
  const auto records = tracer.texts(level);
  return records.size() == 1 ? records[0] : "<" + std::to_string(records.size()) + " records>";
}

bool HasRecordContaining(const host::Tracer& tracer, std::uint32_t level, const std::string& part) {
  for (const std::string& text : tracer.texts(level))
    if (text.find(part) != std::string::npos) return true;
  return false;
}

std::vector<std::string> WithoutTracing(const std::vector<std::string>& journal) {
  std::vector<std::string> calls;
  for (const std::string& call : journal)
    if (call.rfind("ITracer::", 0) != 0) calls.push_back(call);
  return calls;
}

}  // namespace test
