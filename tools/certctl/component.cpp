#include "tools/certctl/component.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>

namespace certctl {

bool Component::Load(const std::string& path, std::string& error) {
  m_handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!m_handle) {
    error = ::dlerror();
    return false;
  }
  m_create = reinterpret_cast<ozoCreateObjectFn>(::dlsym(m_handle, "ozoCreateObject"));
  m_canUnload = reinterpret_cast<ozoCanUnloadModuleFn>(::dlsym(m_handle, "ozoCanUnloadModule"));
  if (!m_create || !m_canUnload) {
    error = path + " does not export ozoCreateObject and ozoCanUnloadModule";
    return false;
  }
  return true;
}

Component::~Component() {
  if (m_handle && m_canUnload && m_canUnload() == 0) ::dlclose(m_handle);
}

std::string LibraryPath(const std::string& option) {
  if (!option.empty()) return option;
  if (const char* env = std::getenv("CERTCTL_LIBRARY"); env && *env) return env;
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    const std::filesystem::path installed = self.parent_path() / CM_MODULE_FROM_BINDIR;
    if (std::filesystem::exists(installed, error)) return installed.lexically_normal().string();
  }
  return CM_BUILT_LIBRARY;
}

}  // namespace certctl
