// UTF-8 and UTF-16 as certctl reads and writes them: names from certificates
// and peers are UTF-8 bytes; the component's initiator names are UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace certctl {

// The character at `at` of `text` and its length in bytes; `length` is 0 for
// a byte that starts no valid UTF-8 sequence (the byte is returned).
std::uint32_t DecodeUtf8(std::string_view text, std::size_t at, std::size_t& length);

// The columns a terminal gives UTF-8 text (wcwidth): 2 for a wide (CJK)
// character, 0 for a combining one, 1 for a byte that is no UTF-8.
std::size_t DisplayWidth(std::string_view text);

}  // namespace certctl
