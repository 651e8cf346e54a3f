// Conversion of any exception into a result code, with its trace record.
#pragma once

#include <exception>

#include "ozo/result.h"
#include "ozo/services.h"
#include "ozo/trace/trace_stream.h"

namespace ozo {

// The result for `error`, writing its text to `stream` when one is given:
//   ResultCodeException (and descendants): GetDescription ". At file(line) ",
//     its carried code (a success becomes 0x80000152);
//   Exception: the same text, 0x80000151;
//   exception: what(), its carried code (a success becomes 0x80000152);
//   std::bad_alloc 0x80000041, std::bad_cast 0x80000047,
//   std::length_error 0x8000005C, std::out_of_range 0x8000005E,
//   std::invalid_argument 0x80000046, std::exception 0x80000151: what();
//   anything else: "unknown exception", 0x80000072.
// Never throws.
result_t ResultFromException(const std::exception_ptr& error, trace::TraceStream* stream) noexcept;

// The catch-all handler of every boundary: converts the exception being
// handled, writing one level-300 record on `tracer` (when it accepts): the
// context and a space (when given), then the text of the exception and of
// each exception nested in it. "No current exception" (0x80000150) outside a
// handler. Never throws; the result is always negative.
result_t ResultFromCurrentException(ITracer* tracer, const char* context) noexcept;

// Runs `body` and returns its result; an exception leaving it is converted
// with ResultFromCurrentException(tracer, context).
template <class Body>
result_t CallAndConvert(ITracer* tracer, const char* context, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return ResultFromCurrentException(tracer, context);
  }
}

}  // namespace ozo
