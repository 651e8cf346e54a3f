#include "host/module.h"

#include <dlfcn.h>

namespace host {

bool Module::Load(const std::string& path, std::string& error) {
  if (m_handle) {
    error = "a module is loaded already";
    return false;
  }
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* reason = ::dlerror();
    error = reason ? reason : path + ": cannot be loaded";
    return false;
  }
  auto create = reinterpret_cast<ozoCreateObjectFn>(::dlsym(handle, "ozoCreateObject"));
  auto canUnload = reinterpret_cast<ozoCanUnloadModuleFn>(::dlsym(handle, "ozoCanUnloadModule"));
  if (!create || !canUnload) {
    ::dlclose(handle);
    error = path + " does not export ozoCreateObject and ozoCanUnloadModule";
    return false;
  }
  m_handle = handle;
  m_create = create;
  m_canUnload = canUnload;
  return true;
}

Module::~Module() {
  if (m_handle && m_canUnload() == 0) ::dlclose(m_handle);
}

ozo::result_t Module::CreateObject(ozo::clsid_t classId, ozo::IServiceLocator** locator,
                                   ozo::ref_ptr<ozo::IObject>& object) const {
  if (!m_create) return ozo::results::InvalidState;
  return m_create(classId, locator, object.Ref());
}

ozo::result_t Module::CanUnload() const { return m_canUnload ? m_canUnload() : 0; }

}  // namespace host
