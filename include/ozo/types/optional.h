// ozo::types::optional_t: a value that may be absent, in a layout that may
// cross module boundaries.
#pragma once

#include <new>
#include <utility>

namespace ozo::types {

// A value that may be absent.
template <class T>
class optional_t {
 public:
  optional_t() noexcept {}
  optional_t(T value) : m_present(true) { new (&m_value) T(std::move(value)); }
  optional_t(const optional_t& other) : optional_t() {
    if (other.m_present) emplace(other.m_value);
  }
  optional_t(optional_t&& other) noexcept : optional_t() {
    if (other.m_present) emplace(std::move(other.m_value));
  }
  ~optional_t() { reset(); }
  optional_t& operator=(const optional_t& other) {
    if (this != &other) {
      reset();
      if (other.m_present) emplace(other.m_value);
    }
    return *this;
  }
  optional_t& operator=(optional_t&& other) noexcept {
    if (this != &other) {
      reset();
      if (other.m_present) emplace(std::move(other.m_value));
    }
    return *this;
  }
  template <class... Args>
  T& emplace(Args&&... args) {
    reset();
    new (&m_value) T(std::forward<Args>(args)...);
    m_present = true;
    return m_value;
  }
  void reset() noexcept {
    if (m_present) m_value.~T();
    m_present = false;
  }
  bool has_value() const noexcept { return m_present; }
  explicit operator bool() const noexcept { return m_present; }
  T& operator*() noexcept { return m_value; }
  const T& operator*() const noexcept { return m_value; }
  T* operator->() noexcept { return &m_value; }
  const T* operator->() const noexcept { return &m_value; }

 private:
  bool m_present = false;
  union {
    T m_value;
  };
};

}  // namespace ozo::types
