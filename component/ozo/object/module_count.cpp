#include "ozo/object/module_count.h"

namespace ozo::detail {

std::atomic<std::uint32_t>& ModuleObjectCount() noexcept {
  static std::atomic<std::uint32_t> count{0};
  return count;
}

}  // namespace ozo::detail
