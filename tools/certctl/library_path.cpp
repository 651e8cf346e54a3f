#include "tools/certctl/library_path.h"

#include <cstdlib>
#include <filesystem>

namespace certctl {

std::string LibraryPath(const std::string& option) {
  std::error_code error;
  if (!option.empty()) return std::filesystem::absolute(option, error).string();
  if (const char* env = std::getenv("CERTCTL_LIBRARY"); env && *env) return env;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    const std::filesystem::path installed = self.parent_path() / CM_MODULE_FROM_BINDIR;
    if (std::filesystem::exists(installed, error)) return installed.lexically_normal().string();
  }
  return CM_BUILT_LIBRARY;
}

}  // namespace certctl
