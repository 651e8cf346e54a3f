#include "host/net/deadline.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "host/net/deadline_clock.h"

namespace host {

Deadline::Deadline(double seconds)
    : m_seconds(seconds),
      m_at(std::chrono::duration_cast<std::chrono::nanoseconds>(
               (DeadlineClock::now() +
                std::chrono::duration_cast<DeadlineClock::duration>(std::chrono::duration<double>(seconds)))
                   .time_since_epoch())
               .count()) {}

bool Deadline::Passed() const { return DeadlineClock::now() >= MomentOf(*this); }

double Deadline::Remaining() const {
  return std::max(0.0, std::chrono::duration<double>(MomentOf(*this) - DeadlineClock::now()).count());
}

int Deadline::WholeSeconds() const { return std::max(1, static_cast<int>(std::ceil(Remaining()))); }

std::string Deadline::Within() const {
  char text[32];
  std::snprintf(text, sizeof(text), "%g", m_seconds);
  return std::string("within ") + text + " s";
}

}  // namespace host
