// The certificates manager library, loaded with dlopen like any host loads it.
#pragma once

#include <string>

#include "host/service_host.h"
#include "ozo/module.h"
#include "ozo/ref_ptr.h"

namespace certctl {

class Component {
 public:
  // Loads the library at `path`; `error` says why when it cannot.
  bool Load(const std::string& path, std::string& error);
  ~Component();

  // Creates the object of `classId` as interface I on `host`; the factory's
  // result (I empty on failure).
  template <class I>
  ozo::result_t Create(ozo::clsid_t classId, host::ServiceHost& host, ozo::ref_ptr<I>& out) const {
    ozo::ref_ptr<ozo::IObject> object;
    const ozo::result_t result = m_create(classId, host.locatorAddress(), object.Ref());
    if (ozo::Succeeded(result)) return ozo::QueryInterface(object.get(), out);
    return result;
  }
  bool CanUnload() const { return m_canUnload() == 0; }

 private:
  void* m_handle = nullptr;
  ozoCreateObjectFn m_create = nullptr;
  ozoCanUnloadModuleFn m_canUnload = nullptr;
};

// --library, else $CERTCTL_LIBRARY, else the module installed with the tool
// (found relative to the tool's own folder), else the one built with it.
std::string LibraryPath(const std::string& option);

}  // namespace certctl
