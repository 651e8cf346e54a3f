// ozo::types::vector_t: a growable array that may cross module boundaries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>

namespace ozo::types {

// Elements on the process heap. Capacity starts at 4 and doubles. push_back
// raises std::bad_alloc on allocation failure; try_push_back reports it as
// false instead. Both leave the vector unchanged on failure.
template <class T>
class vector_t {
 public:
  vector_t() noexcept = default;
  // Strong guarantee: when an element's copy throws, the elements copied so
  // far are destroyed and the buffer freed before the exception leaves.
  vector_t(const vector_t& other) {
    try {
      reserve(other.m_size);
      for (const T& item : other) push_back(item);
    } catch (...) {
      clear();
      std::free(m_items);
      throw;
    }
  }
  vector_t(vector_t&& other) noexcept { swap(other); }
  ~vector_t() {
    clear();
    std::free(m_items);
  }
  vector_t& operator=(vector_t other) noexcept {
    swap(other);
    return *this;
  }
  void swap(vector_t& other) noexcept {
    std::swap(m_items, other.m_items);
    std::swap(m_size, other.m_size);
    std::swap(m_capacity, other.m_capacity);
  }

  std::size_t size() const noexcept { return m_size; }
  std::size_t capacity() const noexcept { return m_capacity; }
  bool empty() const noexcept { return m_size == 0; }
  T* begin() noexcept { return m_items; }
  T* end() noexcept { return m_items + m_size; }
  const T* begin() const noexcept { return m_items; }
  const T* end() const noexcept { return m_items + m_size; }
  T& operator[](std::size_t i) noexcept { return m_items[i]; }
  const T& operator[](std::size_t i) const noexcept { return m_items[i]; }
  T& back() noexcept { return m_items[m_size - 1]; }

  void clear() noexcept {
    for (std::size_t i = 0; i < m_size; ++i) m_items[i].~T();
    m_size = 0;
  }
  // Ensures room for `capacity` elements; false when memory is short.
  bool try_reserve(std::size_t capacity) noexcept {
    if (capacity <= m_capacity) return true;
    if (capacity > SIZE_MAX / sizeof(T)) return false;
    T* fresh = static_cast<T*>(std::malloc(capacity * sizeof(T)));
    if (!fresh) return false;
    for (std::size_t i = 0; i < m_size; ++i) {
      new (fresh + i) T(std::move(m_items[i]));
      m_items[i].~T();
    }
    std::free(m_items);
    m_items = fresh;
    m_capacity = capacity;
    return true;
  }
  void reserve(std::size_t capacity) {
    if (!try_reserve(capacity)) throw std::bad_alloc();
  }
  template <class... Args>
  bool try_emplace_back(Args&&... args) noexcept {
    static_assert(std::is_nothrow_move_constructible_v<T>);
    if (m_size == m_capacity && !try_reserve(m_capacity ? m_capacity * 2 : 4)) return false;
    try {
      new (m_items + m_size) T(std::forward<Args>(args)...);
    } catch (...) {
      return false;
    }
    ++m_size;
    return true;
  }
  bool try_push_back(T item) noexcept { return try_emplace_back(std::move(item)); }
  void push_back(T item) {
    if (!try_push_back(std::move(item))) throw std::bad_alloc();
  }

 private:
  T* m_items = nullptr;
  std::size_t m_size = 0;
  std::size_t m_capacity = 0;
};

}  // namespace ozo::types
