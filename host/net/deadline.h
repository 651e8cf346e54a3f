// A moment by which a whole run of network work must end, however many
// lookups, connections and fetches it takes.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

namespace host {

class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  // `seconds` from now; fractions count.
  explicit Deadline(double seconds)
      : m_seconds(seconds),
        m_at(Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds))) {}

  Clock::time_point at() const { return m_at; }
  // The whole span, as given.
  double seconds() const { return m_seconds; }
  bool Passed() const { return Clock::now() >= m_at; }
  // What is left, in seconds (0 once it has passed).
  double Remaining() const { return std::max(0.0, std::chrono::duration<double>(m_at - Clock::now()).count()); }
  // What is left for an OpenSSL call whose limit is in whole seconds, where
  // 0 means no limit: rounded up, and at least 1. The caller keeps the
  // exact deadline itself (see SocketCutoff).
  int WholeSeconds() const { return std::max(1, static_cast<int>(std::ceil(Remaining()))); }
  // "within 2 s", "within 0.5 s": the span, for messages.
  std::string Within() const {
    char text[32];
    std::snprintf(text, sizeof(text), "%g", m_seconds);
    return std::string("within ") + text + " s";
  }

 private:
  double m_seconds;
  Clock::time_point m_at;
};

}  // namespace host
