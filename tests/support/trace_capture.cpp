#include "tests/support/trace_capture.h"

namespace test {

std::string OnlyRecord(const host::Tracer& tracer, std::uint32_t level) {
  const auto records = tracer.texts(level);
  return records.size() == 1 ? records[0] : "<" + std::to_string(records.size()) + " records>";
}

std::vector<std::string> WithoutTracing(const std::vector<std::string>& journal) {
  std::vector<std::string> calls;
  for (const std::string& call : journal)
    if (call.rfind("ITracer::", 0) != 0) calls.push_back(call);
  return calls;
}

}  // namespace test
