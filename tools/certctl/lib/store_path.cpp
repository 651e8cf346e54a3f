#include "tools/certctl/lib/store_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "tools/certctl/lib/failure.h"

namespace certctl {

std::string DefaultStorePath(const StoreEnvironment& environment) {
  if (environment.root) return CM_SYSTEM_STORE;
  const std::filesystem::path xdg = environment.xdgDataHome ? environment.xdgDataHome : "";
  if (xdg.is_absolute()) return (xdg / "certctl/certificates.db").string();
  if (environment.home && *environment.home)
    return (std::filesystem::path(environment.home) / ".local/share/certctl/certificates.db").string();
  throw Failure(kExitUsage, "no default store: HOME is not set; name the store with --store PATH or CERTCTL_STORE");
}

StoreLocation LocateStore(const std::string& option) {
  if (!option.empty()) return {option, false};
  if (const char* env = std::getenv("CERTCTL_STORE"); env && *env) return {env, false};
  return {DefaultStorePath({::geteuid() == 0, std::getenv("XDG_DATA_HOME"), std::getenv("HOME")}), true};
}

void MakeDefaultFolder(const StoreLocation& location) {
  if (!location.isDefault) return;
  std::filesystem::path made;
  for (const std::filesystem::path& part : std::filesystem::path(location.path).parent_path()) {
    made /= part;
    if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST)
      throw Failure(kExitStore, "cannot make the store's folder " + made.string() + ": " + std::strerror(errno));
  }
}

}  // namespace certctl
