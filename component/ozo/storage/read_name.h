// Reading a name from a storage node with the two-call protocol.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "ozo/result.h"

namespace ozo::storage {

// `read(buffer, size)` is one call of a name getter (GetName, GetNodeName,
// GetValueName): first with a null buffer, which yields the size with the
// terminator (a failure other than "Buffer too small" is returned), then with
// a buffer of that size (any failure is returned). On success `name` holds
// the first `size` characters the second call reports, and the result is the
// second call's.
template <class Read>
result_t ReadName(Read read, std::string& name) {
  std::uint32_t size = 0;
  result_t result = read(nullptr, size);
  if (Failed(result) && result != results::BufferTooSmall) return result;
  std::string buffer(size, '\0');
  result = read(buffer.empty() ? nullptr : buffer.data(), size);
  if (Failed(result)) return result;
  buffer.resize(size < buffer.size() ? size : buffer.size());
  name = std::move(buffer);
  return result;
}

}  // namespace ozo::storage
