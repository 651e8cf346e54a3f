#include "ozo/error_handling/result_from_exception.h"

#include <new>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include "ozo/error_handling/exception.h"
#include "ozo/utf.h"

namespace ozo {
namespace {

result_t NonSuccess(result_t result) noexcept {
  return result >= 0 ? results::ExceptionWithSuccessfulResultCode : result;
}

// Writes GetDescription, ". At ", file, "(line) ". The text is built first so
// that running out of memory writes nothing.
void WriteDescription(const Exception& e, trace::TraceStream* stream) noexcept {
  if (!stream) return;
  try {
    std::string text = ozo::text::Utf16ToUtf8(e.GetDescription());
    text += ". At ";
    text += e.file();
    text += "(" + std::to_string(e.line()) + ") ";
    *stream << std::string_view(text);
  } catch (...) {
  }
}

void WriteWhat(const std::exception& e, trace::TraceStream* stream) noexcept {
  if (stream) *stream << e.what();
}

}  // namespace

result_t ResultFromException(const std::exception_ptr& error, trace::TraceStream* stream) noexcept {
  try {
    std::rethrow_exception(error);
  } catch (const ResultCodeException& e) {
    WriteDescription(e, stream);
    return NonSuccess(GetExceptionResult(e));
  } catch (const Exception& e) {
    WriteDescription(e, stream);
    return results::ExceptionHasNoResultCode;
  } catch (const exception& e) {
    WriteWhat(e, stream);
    return NonSuccess(GetExceptionResult(e));
  } catch (const std::bad_alloc& e) {
    WriteWhat(e, stream);
    return results::OutOfMemory;
  } catch (const std::bad_cast& e) {
    WriteWhat(e, stream);
    return results::BadCast;
  } catch (const std::length_error& e) {
    WriteWhat(e, stream);
    return results::InvalidSize;
  } catch (const std::out_of_range& e) {
    WriteWhat(e, stream);
    return results::OutOfRange;
  } catch (const std::invalid_argument& e) {
    WriteWhat(e, stream);
    return results::InvalidArgument;
  } catch (const std::exception& e) {
    WriteWhat(e, stream);
    return results::ExceptionHasNoResultCode;
  } catch (...) {
    if (stream) *stream << "unknown exception";
    return results::UnknownException;
  }
}

result_t ResultFromCurrentException(ITracer* tracer, const char* context) noexcept {
  trace::TraceStream stream(tracer, trace_level::Error);
  if (stream && context) stream << context << ' ';
  std::exception_ptr current = std::current_exception();
  if (!current) return results::NoCurrentException;
  result_t kept = results::NoError;
  while (current) {
    const result_t result = ResultFromException(current, stream ? &stream : nullptr);
    if (kept == results::NoError) kept = result;
    if (!stream) break;
    std::exception_ptr nested;
    try {
      std::rethrow_exception(current);
    } catch (const std::nested_exception& n) {
      nested = n.nested_ptr();
    } catch (...) {
    }
    current = nested;
  }
  return kept;
}

}  // namespace ozo
