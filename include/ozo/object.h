// The object model shared by the host and every component: reference-counted
// interfaces that answer to 32-bit interface ids.
#pragma once

#include <cstdint>

#include "ozo/result.h"

namespace ozo {

using iid_t = std::uint32_t;
using clsid_t = std::uint32_t;

// Root of every interface. Interfaces have no virtual destructor: an object is
// destroyed by its own Release, never through an interface pointer, so the
// table holds exactly the operations listed, in this order.
struct IObject {
  static constexpr iid_t IID = 0;

  // Adds one reference; returns the count after the increment.
  virtual std::uint32_t AddRef() = 0;
  // Drops one reference and destroys the object when it reaches 0; returns the
  // count after the decrement.
  virtual std::uint32_t Release() = 0;
  // On success stores the object's pointer for `iid` in `*out` with one added
  // reference and returns 0; otherwise returns "Interface not supported" and
  // leaves `*out` untouched.
  virtual result_t QueryInterface(iid_t iid, void** out) = 0;

 protected:
  ~IObject() = default;
};

// The pointer for `iid` within `object`, which implements `Primary` (its
// first base, whose IObject is the object's) and `Others`, or null: the lookup
// every QueryInterface shares. The table is ordered: 0, Primary::IID,
// Others::IID...
template <class Primary, class... Others, class Object>
void* FindInterface(Object* object, iid_t iid) noexcept {
  if (iid == IObject::IID || iid == Primary::IID) return static_cast<Primary*>(object);
  void* found = nullptr;
  ((found == nullptr && iid == Others::IID ? (found = static_cast<Others*>(object)) : nullptr), ...);
  return found;
}

}  // namespace ozo
