// The throwing form of a failed result check: one error record, then
// CheckResultFailedException ("Expression failed") with the code.
#pragma once

#include "ozo/error_handling/exception.h"
#include "ozo/trace/trace_stream.h"

namespace ozo {

template <class... Message>
[[noreturn]] void FailCheck(ITracer* tracer, const trace::CheckLocation& location, result_t result,
                            const Message&... message) {
  trace::TraceFailedCheck(tracer, location, result, message...);
  ThrowCheckFailed(location.file, location.line, result);
}

}  // namespace ozo
