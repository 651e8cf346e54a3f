#include "tools/certctl/lib/library_path.h"

#include <cstdlib>
#include <filesystem>

namespace certctl {

std::string LibraryPath(const std::string& option) {
  std::error_code error;
  if (!option.empty()) return std::filesystem::absolute(option, error).string();
  if (const char* env = std::getenv("CERTCTL_LIBRARY"); env && *env) return env;
  const std::filesystem::path folder = std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
  for (const char* relative : {CM_MODULE_FROM_BINDIR, CM_MODULE_FROM_BUILT_TOOL}) {
    const std::filesystem::path module = folder / relative;
    if (!error && std::filesystem::exists(module, error)) return module.lexically_normal().string();
  }
  return (folder / CM_MODULE_FROM_BINDIR).lexically_normal().string();
}

}  // namespace certctl
