// Reads a fuzz input as a sequence of small values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ozo/types/blob.h"

namespace fuzz {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

  bool empty() const { return m_position >= m_size; }
  std::uint8_t Byte() { return empty() ? 0 : m_data[m_position++]; }
  std::uint16_t Short() { return static_cast<std::uint16_t>(Byte() | (Byte() << 8)); }
  // `length` bytes (fewer at the end of the input).
  std::string Bytes(std::size_t length) {
    const std::size_t available = m_size - m_position;
    const std::size_t taken = length < available ? length : available;
    std::string bytes(reinterpret_cast<const char*>(m_data + m_position), taken);
    m_position += taken;
    return bytes;
  }
  std::string Rest() { return Bytes(m_size - m_position); }

 private:
  const std::uint8_t* m_data;
  std::size_t m_size;
  std::size_t m_position = 0;
};

inline ozo::blob_t BlobOf(const std::string& bytes) { return ozo::blob_t(bytes.data(), bytes.size()); }

}  // namespace fuzz
