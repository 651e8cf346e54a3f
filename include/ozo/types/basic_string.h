// ozo::basic_string_t: the framework's string, safe to pass across modules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "ozo/allocator.h"

namespace ozo {

// A NUL-terminated string of Ch with its own memory. Memory comes from the
// optional allocator (its reference is held) or, without one, from the process
// heap. Up to 16 bytes (terminator included) live inline. Growth takes the
// larger of the needed length and twice the capacity. Overflowing lengths
// raise std::length_error naming the operation; allocation failure raises
// std::bad_alloc.
template <class Ch>
class basic_string_t {
 public:
  using value_type = Ch;
  using size_type = std::size_t;
  using view_type = std::basic_string_view<Ch>;
  static constexpr size_type kInlineBytes = 16;
  static constexpr size_type kInlineCapacity = kInlineBytes / sizeof(Ch) - 1;

  basic_string_t() noexcept { m_inline[0] = Ch(); }
  explicit basic_string_t(IAllocator* allocator) noexcept : m_allocator(allocator) {
    m_inline[0] = Ch();
    if (m_allocator) m_allocator->AddRef();
  }
  basic_string_t(const Ch* text, IAllocator* allocator = nullptr) : basic_string_t(text, Length(text), allocator) {}
  basic_string_t(const Ch* text, size_type length, IAllocator* allocator = nullptr) : basic_string_t(allocator) {
    if (length > max_size()) {
      ReleaseAllocator();
      throw std::length_error("ozo::basic_string_t constructor");
    }
    try {
      Assign(text, length);
    } catch (...) {
      ReleaseAllocator();
      throw;
    }
  }
  explicit basic_string_t(view_type text, IAllocator* allocator = nullptr)
      : basic_string_t(text.data(), text.size(), allocator) {}
  basic_string_t(const basic_string_t& other) : basic_string_t(other.data(), other.size(), other.m_allocator) {}
  basic_string_t(basic_string_t&& other) noexcept : basic_string_t(other.m_allocator) { swap(other); }
  ~basic_string_t() {
    FreeHeap();
    ReleaseAllocator();
  }

  basic_string_t& operator=(const basic_string_t& other) {
    if (this != &other) Assign(other.data(), other.size());
    return *this;
  }
  basic_string_t& operator=(basic_string_t&& other) noexcept {
    swap(other);
    return *this;
  }
  basic_string_t& operator=(view_type text) {
    Assign(text.data(), text.size());
    return *this;
  }
  basic_string_t& operator=(const Ch* text) { return *this = view_type(text, Length(text)); }

  void swap(basic_string_t& other) noexcept {
    std::swap(m_allocator, other.m_allocator);
    std::swap(m_heap, other.m_heap);
    std::swap(m_size, other.m_size);
    std::swap(m_capacity, other.m_capacity);
    std::swap(m_inline, other.m_inline);
  }

  const Ch* c_str() const noexcept { return m_heap ? m_heap : m_inline; }
  const Ch* data() const noexcept { return c_str(); }
  Ch* data() noexcept { return m_heap ? m_heap : m_inline; }
  size_type size() const noexcept { return m_size; }
  size_type length() const noexcept { return m_size; }
  size_type capacity() const noexcept { return m_capacity; }
  bool empty() const noexcept { return m_size == 0; }
  IAllocator* allocator() const noexcept { return m_allocator; }
  static constexpr size_type max_size() noexcept { return PTRDIFF_MAX / sizeof(Ch) - 1; }
  view_type view() const noexcept { return view_type(c_str(), m_size); }
  operator view_type() const noexcept { return view(); }
  Ch operator[](size_type i) const noexcept { return c_str()[i]; }
  Ch& operator[](size_type i) noexcept { return data()[i]; }

  void clear() noexcept {
    m_size = 0;
    data()[0] = Ch();
  }
  // Overwrites every character the string can hold with zeros, then empties it.
  // For secrets: the memory that is later released holds no trace of them.
  void secure_clear() noexcept {
    Wipe(data(), m_capacity + 1);
    m_size = 0;
  }
  // Ensures room for `extra` more characters.
  void reserve_extra(size_type extra) {
    if (extra > max_size() - m_size) throw std::length_error("ozo::basic_string_t::reserve_extra()");
    Grow(m_size + extra);
  }
  void reserve(size_type capacity) {
    if (capacity > m_size) reserve_extra(capacity - m_size);
  }
  // Inserts `count` copies of `fill` at `position` (at most size()).
  void resize_extra_at(size_type position, size_type count, Ch fill = Ch()) {
    if (count > max_size() - m_size) throw std::length_error("ozo::basic_string_t::resize_extra_at");
    Grow(m_size + count);
    Ch* p = data();
    std::memmove(p + position + count, p + position, (m_size - position + 1) * sizeof(Ch));
    for (size_type i = 0; i < count; ++i) p[position + i] = fill;
    m_size += count;
  }
  void resize(size_type size, Ch fill = Ch()) {
    if (size <= m_size) {
      m_size = size;
      data()[size] = Ch();
    } else {
      resize_extra_at(m_size, size - m_size, fill);
    }
  }
  // `text` may be this string's own (s.append(s.data(), s.size())): it is
  // read from where growing moved it.
  basic_string_t& append(const Ch* text, size_type length) {
    if (length > max_size() - m_size) throw std::length_error("ozo::basic_string_t::append()");
    // Compared as addresses: `text` may point anywhere, and only addresses
    // are ordered across objects.
    const auto at = [](const Ch* pointer) { return reinterpret_cast<std::uintptr_t>(pointer); };
    const bool own = at(data()) <= at(text) && at(text) <= at(data() + m_size);
    const size_type offset = own ? static_cast<size_type>(text - data()) : 0;
    Grow(m_size + length);
    Ch* p = data();
    std::memmove(p + m_size, own ? p + offset : text, length * sizeof(Ch));
    m_size += length;
    p[m_size] = Ch();
    return *this;
  }
  basic_string_t& append(view_type text) { return append(text.data(), text.size()); }
  basic_string_t& operator+=(view_type text) { return append(text); }
  basic_string_t& operator+=(Ch c) { return append(&c, 1); }

  friend bool operator==(const basic_string_t& a, const basic_string_t& b) noexcept { return a.view() == b.view(); }
  friend bool operator!=(const basic_string_t& a, const basic_string_t& b) noexcept { return !(a == b); }
  friend bool operator==(const basic_string_t& a, view_type b) noexcept { return a.view() == b; }

 private:
  static size_type Length(const Ch* text) noexcept { return text ? std::char_traits<Ch>::length(text) : 0; }
  void Assign(const Ch* text, size_type length) {
    if (length > max_size()) throw std::length_error("ozo::basic_string_t::append()");
    Grow(length);
    Ch* p = data();
    std::memmove(p, text, length * sizeof(Ch));
    m_size = length;
    p[length] = Ch();
  }
  void* AllocateBytes(size_type bytes) {
    void* p = m_allocator ? m_allocator->Allocate(bytes) : std::malloc(bytes);
    if (!p) throw std::bad_alloc();
    return p;
  }
  // Makes room for `needed` characters plus the terminator, keeping contents.
  // The buffer given up is overwritten first: a secret that grows leaves no
  // copy behind in released (or inline) memory.
  void Grow(size_type needed) {
    if (needed <= m_capacity) return;
    size_type target = m_capacity > max_size() / 2 ? max_size() : m_capacity * 2;
    if (target < needed) target = needed;
    Ch* fresh = static_cast<Ch*>(AllocateBytes((target + 1) * sizeof(Ch)));
    std::memcpy(fresh, data(), (m_size + 1) * sizeof(Ch));
    Wipe(data(), m_capacity + 1);
    FreeHeap();
    m_heap = fresh;
    m_capacity = target;
  }
  static void Wipe(Ch* p, size_type count) noexcept {
    volatile Ch* v = p;
    for (size_type i = 0; i < count; ++i) v[i] = Ch();
  }
  void FreeHeap() noexcept {
    if (!m_heap) return;
    if (m_allocator)
      m_allocator->Free(m_heap);
    else
      std::free(m_heap);
    m_heap = nullptr;
  }
  void ReleaseAllocator() noexcept {
    if (m_allocator) m_allocator->Release();
    m_allocator = nullptr;
  }

  IAllocator* m_allocator = nullptr;  // counted reference, or null for the heap
  Ch* m_heap = nullptr;               // null while the text is inline
  size_type m_size = 0;
  size_type m_capacity = kInlineCapacity;
  Ch m_inline[kInlineCapacity + 1] = {};  // wholly initialised: swap copies all of it
};

using string8_t = basic_string_t<char>;
using string16_t = basic_string_t<char16_t>;
using str8_t = char*;
using cstr8_t = const char*;

}  // namespace ozo
