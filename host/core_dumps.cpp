#include "host/core_dumps.h"

#include <sys/prctl.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>

namespace host {

ozo::result_t KeepSecretsOutOfCoreDumps(std::string& error) {
  const rlimit none{0, 0};
  if (::setrlimit(RLIMIT_CORE, &none) != 0) {
    error = std::string("cannot turn core dumps off: ") + std::strerror(errno);
    return ozo::results::UnspecifiedPlatformError;
  }
  if (::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0) {
    error = std::string("cannot make the process undumpable: ") + std::strerror(errno);
    return ozo::results::UnspecifiedPlatformError;
  }
  return ozo::results::NoError;
}

}  // namespace host
