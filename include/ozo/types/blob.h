// ozo::types::blob_t: an owned, contiguous, growable byte buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace ozo::types {

// Bytes on the process heap. An empty blob may own no storage at all
// (data() == nullptr); one that has held bytes keeps its storage until
// destroyed. Growth doubles the capacity (at least to what is needed);
// allocation failure raises std::bad_alloc and leaves the contents unchanged.
class blob_t {
 public:
  blob_t() noexcept = default;
  blob_t(const void* bytes, std::size_t size) { assign(bytes, size); }
  blob_t(const blob_t& other) : blob_t(other.data(), other.size()) {}
  blob_t(blob_t&& other) noexcept { swap(other); }
  ~blob_t() { std::free(m_data); }

  blob_t& operator=(const blob_t& other) {
    if (this != &other) assign(other.data(), other.size());
    return *this;
  }
  blob_t& operator=(blob_t&& other) noexcept {
    swap(other);
    return *this;
  }
  void swap(blob_t& other) noexcept {
    std::swap(m_data, other.m_data);
    std::swap(m_size, other.m_size);
    std::swap(m_capacity, other.m_capacity);
  }

  const std::uint8_t* data() const noexcept { return m_data; }
  std::uint8_t* data() noexcept { return m_data; }
  std::size_t size() const noexcept { return m_size; }
  std::size_t capacity() const noexcept { return m_capacity; }
  bool empty() const noexcept { return m_size == 0; }
  const std::uint8_t* begin() const noexcept { return m_data; }
  const std::uint8_t* end() const noexcept { return m_data + m_size; }

  void clear() noexcept { m_size = 0; }
  void reserve(std::size_t capacity) {
    if (capacity <= m_capacity) return;
    void* fresh = std::realloc(m_data, capacity);
    if (!fresh) throw std::bad_alloc();
    m_data = static_cast<std::uint8_t*>(fresh);
    m_capacity = capacity;
  }
  void resize(std::size_t size) {
    if (size > m_capacity) reserve(Grown(size));
    if (size > m_size) std::memset(m_data + m_size, 0, size - m_size);
    m_size = size;
  }
  void assign(const void* bytes, std::size_t size) {
    if (size > m_capacity) reserve(size);
    if (size) std::memmove(m_data, bytes, size);
    m_size = size;
  }
  void append(const void* bytes, std::size_t size) {
    if (size == 0) return;
    if (size > SIZE_MAX - m_size) throw std::bad_alloc();
    if (m_size + size > m_capacity) reserve(Grown(m_size + size));
    std::memmove(m_data + m_size, bytes, size);
    m_size += size;
  }

  friend bool operator==(const blob_t& a, const blob_t& b) noexcept {
    return a.m_size == b.m_size && (a.m_size == 0 || std::memcmp(a.m_data, b.m_data, a.m_size) == 0);
  }
  friend bool operator!=(const blob_t& a, const blob_t& b) noexcept { return !(a == b); }

 private:
  std::size_t Grown(std::size_t needed) const noexcept {
    std::size_t doubled = m_capacity > SIZE_MAX / 2 ? SIZE_MAX : m_capacity * 2;
    return doubled > needed ? doubled : needed;
  }

  std::uint8_t* m_data = nullptr;
  std::size_t m_size = 0;
  std::size_t m_capacity = 0;
};

}  // namespace ozo::types

namespace ozo {
using types::blob_t;
}
