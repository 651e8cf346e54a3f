// ref_ptr: owns one counted reference to an interface.
#pragma once

#include <type_traits>
#include <utility>

#include "ozo/object.h"

namespace ozo {

// Holds one reference to T (any interface deriving from IObject). Copying adds
// a reference, destruction releases it. Attach() adopts a reference the caller
// already owns; Ref() empties the holder and yields the address an
// out-parameter fills with a new reference.
template <class T>
class ref_ptr {
 public:
  ref_ptr() noexcept = default;
  ref_ptr(std::nullptr_t) noexcept {}
  // Adds a reference to `p` (borrowed).
  explicit ref_ptr(T* p) noexcept : m_p(p) {
    if (m_p) m_p->AddRef();
  }
  ref_ptr(const ref_ptr& other) noexcept : ref_ptr(other.m_p) {}
  ref_ptr(ref_ptr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
  // From a holder of a derived interface only: a downcast is QueryInterface's
  // job, never a conversion's.
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  ref_ptr(ref_ptr<U>&& other) noexcept : m_p(other.Detach()) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  ref_ptr(const ref_ptr<U>& other) noexcept : ref_ptr(static_cast<T*>(other.get())) {}
  ~ref_ptr() { Reset(); }

  ref_ptr& operator=(ref_ptr other) noexcept {
    std::swap(m_p, other.m_p);
    return *this;
  }

  // Takes over a reference the caller owns.
  static ref_ptr Attach(T* p) noexcept {
    ref_ptr r;
    r.m_p = p;
    return r;
  }
  // Gives up the reference without releasing it.
  T* Detach() noexcept { return std::exchange(m_p, nullptr); }
  void Reset() noexcept {
    if (T* p = std::exchange(m_p, nullptr)) p->Release();
  }
  // Releases the current reference and returns the slot for an out-parameter.
  T** Ref() noexcept {
    Reset();
    return &m_p;
  }
  void** RefVoid() noexcept { return reinterpret_cast<void**>(Ref()); }

  T* get() const noexcept { return m_p; }
  T* operator->() const noexcept { return m_p; }
  T& operator*() const noexcept { return *m_p; }
  explicit operator bool() const noexcept { return m_p != nullptr; }
  operator T*() const noexcept { return m_p; }

 private:
  T* m_p = nullptr;
};

// Asks `object` for interface I; on success `out` holds the new reference.
template <class I>
result_t QueryInterface(IObject* object, ref_ptr<I>& out) noexcept {
  return object->QueryInterface(I::IID, out.RefVoid());
}

}  // namespace ozo
