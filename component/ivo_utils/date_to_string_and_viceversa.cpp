#include "ivo_utils/date_to_string_and_viceversa.h"

#include <cerrno>
#include <system_error>

namespace ivo {

std::time_t MakeTimeT(std::tm& time) {
  errno = 0;
  const std::time_t result = std::mktime(&time);
  if (result == static_cast<std::time_t>(-1) && errno != 0) {
    throw std::system_error(errno, std::system_category(),
                            "System function 'std::mktime' ends with error. In "
                            "ivo_utils/export/ivo_utils/date_to_string_and_viceversa:176");
  }
  return result;
}

}  // namespace ivo
