// The object model of the module's classes: interface tables, reference
// counting in malloc'ed memory, and one unit of the module's live-object count
// per object.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

#include "ozo/object.h"
#include "ozo/object/module_count.h"
#include "ozo/ref_ptr.h"

namespace ozo::object {

// Base of a class implementing `Primary` (first, so the object's address is
// the interface's and its IObject's) and `Others`. Answers QueryInterface
// from the ordered table: 0, Primary::IID, Others::IID...
template <class Primary, class... Others>
class Ifaces : public Primary, public Others... {
 protected:
  ~Ifaces() = default;

 public:
  // The interface pointer for `iid` within this object, or null.
  void* FindInterface(iid_t iid) noexcept { return ozo::FindInterface<Primary, Others...>(this, iid); }
};

// Forbids copies of an object.
class NonCopyable {
 protected:
  NonCopyable() = default;
  ~NonCopyable() = default;

 public:
  NonCopyable(const NonCopyable&) = delete;
  NonCopyable& operator=(const NonCopyable&) = delete;
};

}  // namespace ozo::object

namespace ozo::detail {

// The reference counter: atomic, sequentially consistent.
class RefCounter {
 public:
  std::uint32_t Increment() noexcept { return m_count.fetch_add(1) + 1; }
  // Returns the value before the decrement.
  std::uint32_t Decrement() noexcept { return m_count.fetch_sub(1); }

 private:
  std::atomic<std::uint32_t> m_count{1};
};

// A creatable object of class T: T (whose first base is its interface), then
// the reference counter. Memory from malloc, returned with free.
template <class T>
class ObjectImpl final : public T {
 public:
  // Creates the object with a reference count of 1. Raises std::bad_alloc
  // when memory is short and passes on what T's constructor throws; in both
  // cases nothing is left allocated and the live-object count is unchanged.
  template <class... Args>
  static ObjectImpl* Create(Args&&... args) {
    void* memory = std::malloc(sizeof(ObjectImpl));
    if (!memory) throw std::bad_alloc();
    ModuleObjectCount().fetch_add(1);
    try {
      return new (memory) ObjectImpl(std::forward<Args>(args)...);
    } catch (...) {
      ModuleObjectCount().fetch_sub(1);
      std::free(memory);
      throw;
    }
  }
  // Create() owned by a ref_ptr of interface I.
  template <class I = T, class... Args>
  static ref_ptr<I> CreateRef(Args&&... args) {
    return ref_ptr<I>::Attach(Create(std::forward<Args>(args)...));
  }

  std::uint32_t AddRef() override { return m_refs.Increment(); }
  std::uint32_t Release() override {
    const std::uint32_t before = m_refs.Decrement();
    if (before == 1) {
      this->~ObjectImpl();
      ModuleObjectCount().fetch_sub(1);
      std::free(this);
    }
    return before - 1;
  }
  result_t QueryInterface(iid_t iid, void** out) override {
    void* found = T::FindInterface(iid);
    if (!found) return results::InterfaceNotSupported;
    m_refs.Increment();
    *out = found;
    return results::NoError;
  }

 private:
  template <class... Args>
  explicit ObjectImpl(Args&&... args) : T(std::forward<Args>(args)...) {}
  ~ObjectImpl() = default;

  RefCounter m_refs;
};

}  // namespace ozo::detail
