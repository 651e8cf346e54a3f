// The built library opened with dlopen, as a host opens it, with its two
// entry points. CM_LIBRARY_PATH names the library.
#pragma once

#include <dlfcn.h>

#include "ozo/module.h"

namespace test {

class LoadedLibrary {
 public:
  LoadedLibrary() : m_handle(::dlopen(CM_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL)) {
    if (!m_handle) return;
    create = reinterpret_cast<ozoCreateObjectFn>(::dlsym(m_handle, "ozoCreateObject"));
    canUnload = reinterpret_cast<ozoCanUnloadModuleFn>(::dlsym(m_handle, "ozoCanUnloadModule"));
  }
  ~LoadedLibrary() {
    if (m_handle) ::dlclose(m_handle);
  }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  // Whether the library opened and exports both entry points.
  explicit operator bool() const { return create && canUnload; }

  ozoCreateObjectFn create = nullptr;
  ozoCanUnloadModuleFn canUnload = nullptr;

 private:
  void* m_handle;
};

}  // namespace test
