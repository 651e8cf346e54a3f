// The two-call protocol by which storage nodes hand out names.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "ozo/result.h"

namespace host {

// With a null `buffer` or one smaller than the name and its terminator:
// `size` becomes that needed size and the result is "Buffer too small".
// Otherwise the name and a terminator are written, `size` becomes the name's
// length and the result is 0.
inline ozo::result_t CopyName(std::string_view name, char* buffer, std::uint32_t& size) noexcept {
  const auto needed = static_cast<std::uint32_t>(name.size() + 1);
  if (!buffer || size < needed) {
    size = needed;
    return ozo::results::BufferTooSmall;
  }
  std::memcpy(buffer, name.data(), name.size());
  buffer[name.size()] = '\0';
  size = static_cast<std::uint32_t>(name.size());
  return ozo::results::NoError;
}

}  // namespace host
