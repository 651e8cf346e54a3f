// A Deadline's moment as the steady clock's time point, for the code that
// waits on it (poll, a watch thread, a name lookup).
#pragma once

#include <chrono>

#include "host/net/deadline.h"

namespace host {

using DeadlineClock = std::chrono::steady_clock;

inline DeadlineClock::time_point MomentOf(const Deadline& deadline) {
  return DeadlineClock::time_point(
      std::chrono::duration_cast<DeadlineClock::duration>(std::chrono::nanoseconds(deadline.steadyNanoseconds())));
}

}  // namespace host
