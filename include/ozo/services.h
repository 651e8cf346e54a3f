// The host's service locator and tracing sink.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ozo/object.h"
#include "ozo/ref_ptr.h"
#include "ozo/types/basic_string.h"

namespace ozo {

// Hands out the host's services. Every object of a component receives one at
// creation and keeps a reference to it.
struct IServiceLocator : IObject {
  static constexpr iid_t IID = 0x2A6C0E51;

  // On success `*out` holds a referenced interface `iid` (service key is
  // always 0) and the result is non-negative; on failure the result is
  // negative and `*out` is left alone.
  virtual result_t GetInterface(iid_t iid, std::uint32_t serviceKey, void** out) = 0;

 protected:
  ~IServiceLocator() = default;
};

// The host's tracing sink. A record is a buffer the tracer lends, which the
// writer fills and hands back with CommitBuffer.
struct ITracer : IObject {
  static constexpr iid_t IID = 0x6EF3329B;

  // With `*buffer` null: asks for a new record of at least `size` bytes at
  // `level`. With `*buffer` set: asks to enlarge that record to `size` bytes,
  // keeping its contents (the level is then 1000). Only 0 together with a
  // non-null `*buffer` is acceptance; anything else means no record/no growth.
  virtual result_t ReserveBuffer(std::uint32_t level, char** buffer, std::size_t size) = 0;
  // Hands over a finished record of `length` bytes starting at `buffer`; the
  // tracer owns the buffer afterwards.
  virtual result_t CommitBuffer(char* buffer, std::size_t length) = 0;

 protected:
  ~ITracer() = default;
};

namespace trace {
// A tracer that puts a fixed prefix before every record of its inner tracer.
struct IPrefixTracer : IObject {
  static constexpr iid_t IID = 0xCE153B3B;

  // The prefix text, owned by the tracer.
  virtual const basic_string_t<char>* GetPrefix() = 0;
  // The inner tracer, without an added reference.
  virtual ITracer* GetBaseTracer() = 0;

 protected:
  ~IPrefixTracer() = default;
};
}  // namespace trace

// Trace levels the component writes at.
namespace trace_level {
constexpr std::uint32_t Error = 300;
constexpr std::uint32_t Info = 800;
constexpr std::uint32_t Grow = 1000;  // passed when enlarging an open record
}  // namespace trace_level

// Looks up interface I (service key 0) into `out`.
template <class I>
result_t GetInterface(IServiceLocator* locator, ref_ptr<I>& out) noexcept {
  return locator->GetInterface(I::IID, 0, out.RefVoid());
}

}  // namespace ozo
