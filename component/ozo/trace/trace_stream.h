// Trace records and the text stream that fills them.
//
// A trace statement opens a record at a level; when the tracer refuses (or
// there is none) nothing is formatted. Every operation here is noexcept: a
// trace statement never throws and never fails the traced operation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "ozo/result.h"
#include "ozo/result_messages.h"
#include "ozo/services.h"

namespace ozo::trace {

// Condition texts of failed checks.
inline constexpr const char* kResultCondition = "OZO_SUCCEEDED(_result)";
inline constexpr const char* kBoolCondition = "bool";

// Where a check sits: source path without extension, line, the checked
// expression and the condition text.
struct CheckLocation {
  const char* file;
  std::int32_t line;
  const char* expression;
  const char* condition = kResultCondition;
};

using ResultMessageFn = std::string_view (*)(result_t);

// A result printed as 0x%08x, then " (message)" when `message` gives a text.
struct ResultFormatter {
  result_t result;
  ResultMessageFn message = nullptr;
};

// Standard stream flag values (as std::ios_base).
namespace flags {
constexpr std::uint32_t dec = 0x2;
constexpr std::uint32_t hex = 0x8;
constexpr std::uint32_t oct = 0x40;
constexpr std::uint32_t basefield = dec | hex | oct;
constexpr std::uint32_t left = 0x20;
constexpr std::uint32_t right = 0x80;
constexpr std::uint32_t internal = 0x10;
constexpr std::uint32_t adjustfield = left | right | internal;
constexpr std::uint32_t showbase = 0x200;
constexpr std::uint32_t skipws = 0x1000;
}  // namespace flags

// Manipulators.
struct SetFlags {
  std::uint32_t set;
  std::uint32_t mask;
};
inline constexpr SetFlags hex{flags::hex, flags::basefield};
inline constexpr SetFlags dec{flags::dec, flags::basefield};
inline constexpr SetFlags oct{flags::oct, flags::basefield};
inline constexpr SetFlags left{flags::left, flags::adjustfield};
inline constexpr SetFlags right{flags::right, flags::adjustfield};
inline constexpr SetFlags internal{flags::internal, flags::adjustfield};
inline constexpr SetFlags showbase{flags::showbase, flags::showbase};
struct SetWidth {
  std::size_t width;
};
inline SetWidth setw(std::size_t width) { return {width}; }
struct SetFill {
  char fill;
};
inline SetFill setfill(char fill) { return {fill}; }

// One open record: the tracer's buffer and the tracer it came from.
struct TraceRecord {
  ITracer* tracer = nullptr;
  char* buffer = nullptr;
};

// Text writer over one record. Opening asks the tracer for 512 bytes; growth
// asks for the larger of the needed length and twice the capacity at level
// 1000; a refused growth discards the text so far. The destructor commits.
class TraceStream {
 public:
  static constexpr std::size_t kInitialCapacity = 512;

  TraceStream(ITracer* tracer, std::uint32_t level) noexcept;
  ~TraceStream() { End(); }
  TraceStream(const TraceStream&) = delete;
  TraceStream& operator=(const TraceStream&) = delete;

  // True while a record is open.
  explicit operator bool() const noexcept { return m_record.buffer != nullptr; }
  // Commits the record (if any) to its tracer; later writes are ignored.
  void End() noexcept;

  std::uint32_t flags() const noexcept { return m_flags; }
  std::size_t length() const noexcept { return m_length; }
  std::size_t capacity() const noexcept { return m_capacity; }
  std::size_t precision() const noexcept { return m_precision; }

  TraceStream& operator<<(const char* text) noexcept;  // null writes "(null)"
  TraceStream& operator<<(std::string_view text) noexcept;
  TraceStream& operator<<(char c) noexcept;
  template <
      class Int,
      std::enable_if_t<std::is_integral_v<Int> && !std::is_same_v<Int, char> && !std::is_same_v<Int, bool>, int> = 0>
  TraceStream& operator<<(Int value) noexcept {
    if constexpr (std::is_signed_v<Int>)
      return WriteSigned(static_cast<std::int64_t>(value), sizeof(Int));
    else
      return WriteUnsigned(static_cast<std::uint64_t>(value));
  }
  TraceStream& operator<<(const ResultFormatter& result) noexcept;
  TraceStream& operator<<(const CheckLocation& location) noexcept;
  TraceStream& operator<<(SetFlags manipulator) noexcept {
    m_flags = (m_flags & ~manipulator.mask) | manipulator.set;
    return *this;
  }
  TraceStream& operator<<(SetWidth manipulator) noexcept {
    m_width = manipulator.width;
    return *this;
  }
  TraceStream& operator<<(SetFill manipulator) noexcept {
    m_fill = manipulator.fill;
    return *this;
  }

 private:
  TraceStream& WriteSigned(std::int64_t value, std::size_t bytes) noexcept;
  TraceStream& WriteUnsigned(std::uint64_t value) noexcept;
  // Writes prefix and body as one piece, padded to the width.
  void WritePiece(std::string_view prefix, std::string_view body) noexcept;
  // Raw bytes, no padding.
  void WriteBytes(std::string_view bytes) noexcept;
  bool Reserve(std::size_t extra) noexcept;

  TraceRecord m_record;
  char* m_base = nullptr;
  std::size_t m_capacity = 0;
  std::size_t m_length = 0;
  std::uint32_t m_flags = flags::dec | flags::skipws;
  std::size_t m_precision = 6;
  std::size_t m_width = 0;
  char m_fill = ' ';
};

// Writes `pieces` as one record at `level`; nothing is formatted unless the
// tracer accepts the level.
template <class... Pieces>
void Trace(ITracer* tracer, std::uint32_t level, const Pieces&... pieces) noexcept {
  TraceStream stream(tracer, level);
  if (stream) (stream << ... << pieces);
}

// Failed result check at level 300: the location, "result = ", the code with
// its message, then the optional message pieces glued on.
template <class... Message>
void TraceFailedCheck(ITracer* tracer, const CheckLocation& location, result_t result,
                      const Message&... message) noexcept {
  Trace(tracer, trace_level::Error, location, "result = ", ResultFormatter{result, &GetResultMessage}, message...);
}

// Failed boolean check at level 300: the location, "result = false", then the
// message pieces.
template <class... Message>
void TraceFailedBoolCheck(ITracer* tracer, const CheckLocation& location, const Message&... message) noexcept {
  Trace(tracer, trace_level::Error, location, "result = false", message...);
}

}  // namespace ozo::trace
