// The host's own object base: reference counting and interface lookup for
// the services it hands to components. Independent of any component module.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

#include "ozo/object.h"
#include "ozo/ref_ptr.h"

namespace host {

// Implements IObject for `Primary` (first base) and `Others`. Objects live on
// the heap and delete themselves when the last reference goes; the virtual
// destructor sits after the interfaces' slots, so their order is unchanged.
template <class Primary, class... Others>
class HostObject : public Primary, public Others... {
 public:
  std::uint32_t AddRef() override { return m_refs.fetch_add(1) + 1; }
  std::uint32_t Release() override {
    const std::uint32_t after = m_refs.fetch_sub(1) - 1;
    if (after == 0) delete this;
    return after;
  }
  ozo::result_t QueryInterface(ozo::iid_t iid, void** out) override {
    void* found = ozo::FindInterface<Primary, Others...>(this, iid);
    if (!found) return ozo::results::InterfaceNotSupported;
    AddRef();
    *out = found;
    return ozo::results::NoError;
  }

 protected:
  HostObject() = default;
  virtual ~HostObject() = default;
  HostObject(const HostObject&) = delete;
  HostObject& operator=(const HostObject&) = delete;

 private:
  std::atomic<std::uint32_t> m_refs{1};
};

// Creates a host object with one reference, owned by the returned holder.
template <class T, class... Args>
ozo::ref_ptr<T> Make(Args&&... args) {
  return ozo::ref_ptr<T>::Attach(new T(std::forward<Args>(args)...));
}

}  // namespace host
