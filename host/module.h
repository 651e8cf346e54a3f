// A component module loaded by path, as a host loads it.
#pragma once

#include <string>

#include "ozo/module.h"
#include "ozo/ref_ptr.h"

namespace host {

// Owns one dlopen of a module (RTLD_NOW | RTLD_LOCAL) and its two entry
// points. The module is closed when this object goes, unless objects of it
// are still alive (ozoCanUnloadModule answers 1): their code must stay
// mapped, so the module then stays loaded until the process ends. Not
// copyable: one object, one dlopen.
class Module {
 public:
  Module() = default;
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // Loads the module at `path`; false, with `error` saying why, when it
  // cannot be loaded or does not export both entry points.
  bool Load(const std::string& path, std::string& error);
  bool loaded() const noexcept { return m_create != nullptr; }

  // ozoCreateObject, then QueryInterface for I: the factory's result, or the
  // query's when the object does not offer I (`out` empty on failure).
  template <class I>
  ozo::result_t Create(ozo::clsid_t classId, ozo::IServiceLocator** locator, ozo::ref_ptr<I>& out) const {
    ozo::ref_ptr<ozo::IObject> object;
    const ozo::result_t result = CreateObject(classId, locator, object);
    return ozo::Succeeded(result) ? ozo::QueryInterface(object.get(), out) : result;
  }
  ozo::result_t CreateObject(ozo::clsid_t classId, ozo::IServiceLocator** locator,
                             ozo::ref_ptr<ozo::IObject>& object) const;
  // ozoCanUnloadModule: 0 when no object of the module is alive.
  ozo::result_t CanUnload() const;

 private:
  void* m_handle = nullptr;
  ozoCreateObjectFn m_create = nullptr;
  ozoCanUnloadModuleFn m_canUnload = nullptr;
};

}  // namespace host
