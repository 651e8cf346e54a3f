#include "ozo/trace/trace_stream.h"

#include <algorithm>
#include <cstring>

namespace ozo::trace {
namespace {

constexpr char kDigits[] = "0123456789abcdef";

// Formats `value` in `base` into the end of `buffer`; returns the digits.
std::string_view FormatDigits(std::uint64_t value, unsigned base, char (&buffer)[24]) noexcept {
  char* end = buffer + sizeof(buffer);
  char* p = end;
  do {
    *--p = kDigits[value % base];
    value /= base;
  } while (value != 0);
  return {p, static_cast<std::size_t>(end - p)};
}

unsigned BaseOf(std::uint32_t flagBits) noexcept {
  switch (flagBits & flags::basefield) {
    case flags::hex:
      return 16;
    case flags::oct:
      return 8;
    default:
      return 10;
  }
}

}  // namespace

TraceStream::TraceStream(ITracer* tracer, std::uint32_t level) noexcept {
  if (!tracer) return;
  char* buffer = nullptr;
  if (tracer->ReserveBuffer(level, &buffer, kInitialCapacity) != results::NoError || !buffer) return;
  m_record = {tracer, buffer};
  m_base = buffer;
  m_capacity = kInitialCapacity;
}

void TraceStream::End() noexcept {
  if (!m_record.buffer) return;
  char* buffer = m_record.buffer;
  m_record.buffer = nullptr;
  m_record.tracer->CommitBuffer(buffer, m_length);
}

bool TraceStream::Reserve(std::size_t extra) noexcept {
  if (!m_record.buffer) return false;
  if (m_length + extra <= m_capacity) return true;
  const std::size_t needed = m_length + extra;
  const std::size_t size = std::max(needed, m_capacity * 2);
  if (m_record.tracer->ReserveBuffer(trace_level::Grow, &m_record.buffer, size) == results::NoError &&
      m_record.buffer) {
    m_capacity = size;
    m_base = m_record.buffer;
    return true;
  }
  m_length = 0;
  m_capacity = 0;
  return false;
}

void TraceStream::WriteBytes(std::string_view bytes) noexcept {
  if (bytes.empty() || !Reserve(bytes.size())) return;
  std::memcpy(m_base + m_length, bytes.data(), bytes.size());
  m_length += bytes.size();
}

void TraceStream::WritePiece(std::string_view prefix, std::string_view body) noexcept {
  const std::size_t content = prefix.size() + body.size();
  const std::size_t padding = m_width > content ? m_width - content : 0;
  m_width = 0;
  if (!Reserve(content + padding)) return;
  char* out = m_base + m_length;
  const std::uint32_t adjust = m_flags & flags::adjustfield;
  auto put = [&out](std::string_view part) {
    if (part.empty()) return;  // an empty view may have no storage
    std::memcpy(out, part.data(), part.size());
    out += part.size();
  };
  auto pad = [&] {
    std::memset(out, m_fill, padding);
    out += padding;
  };
  if (adjust == flags::left) {
    put(prefix), put(body), pad();
  } else if (adjust == flags::internal) {
    put(prefix), pad(), put(body);
  } else {
    pad(), put(prefix), put(body);
  }
  m_length += content + padding;
}

TraceStream& TraceStream::operator<<(const char* text) noexcept {
  WritePiece({}, text ? std::string_view(text) : std::string_view("(null)"));
  return *this;
}

TraceStream& TraceStream::operator<<(std::string_view text) noexcept {
  WritePiece({}, text);
  return *this;
}

TraceStream& TraceStream::operator<<(char c) noexcept {
  WritePiece({}, std::string_view(&c, 1));
  return *this;
}

TraceStream& TraceStream::WriteSigned(std::int64_t value, std::size_t bytes) noexcept {
  const unsigned base = BaseOf(m_flags);
  if (base != 10) {
    // Other bases print the two's-complement bits of the value's own width.
    const std::uint64_t mask = bytes >= 8 ? ~0ull : (1ull << (bytes * 8)) - 1;
    return WriteUnsigned(static_cast<std::uint64_t>(value) & mask);
  }
  char buffer[24];
  const std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  WritePiece(value < 0 ? "-" : "", FormatDigits(magnitude, 10, buffer));
  return *this;
}

TraceStream& TraceStream::WriteUnsigned(std::uint64_t value) noexcept {
  const unsigned base = BaseOf(m_flags);
  std::string_view prefix;
  if ((m_flags & flags::showbase) && value != 0) prefix = base == 16 ? "0x" : base == 8 ? "0" : "";
  char buffer[24];
  WritePiece(prefix, FormatDigits(value, base, buffer));
  return *this;
}

TraceStream& TraceStream::operator<<(const ResultFormatter& result) noexcept {
  char code[10] = {'0', 'x'};
  auto bits = static_cast<std::uint32_t>(result.result);
  for (int i = 9; i >= 2; --i, bits >>= 4) code[i] = kDigits[bits & 0xF];
  WriteBytes(std::string_view(code, sizeof(code)));
  if (result.message) {
    const std::string_view message = result.message(result.result);
    if (!message.empty()) {
      WriteBytes(" (");
      WriteBytes(message);
      WriteBytes(")");
    }
  }
  return *this;
}

TraceStream& TraceStream::operator<<(const CheckLocation& location) noexcept {
  return *this << location.file << ":" << location.line << "(" << location.expression << "),(" << location.condition
               << ") failed: ";
}

}  // namespace ozo::trace
