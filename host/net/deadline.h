// A moment by which a whole run of network work must end, however many
// lookups, connections and fetches it takes. Light on purpose: the
// lifecycle's public headers hold one. host/net/deadline_clock.h gives the
// moment as a std::chrono time point, for the code that waits on it.
#pragma once

#include <cstdint>
#include <string>

namespace host {

// How long a peer's network work may take unless its caller says otherwise:
// a probe's connect and handshake, a revocation fetch.
constexpr double kDefaultTimeoutSeconds = 10;

class Deadline {
 public:
  // `seconds` from now, by the steady clock; fractions count.
  explicit Deadline(double seconds);

  // The whole span, as given.
  double seconds() const { return m_seconds; }
  bool Passed() const;
  // What is left, in seconds (0 once it has passed).
  double Remaining() const;
  // What is left for an OpenSSL call whose limit is in whole seconds, where
  // 0 means no limit: rounded up, and at least 1. The caller keeps the
  // exact deadline itself (see SocketCutoff).
  int WholeSeconds() const;
  // "within 2 s", "within 0.5 s": the span, for messages.
  std::string Within() const;
  // The moment, in nanoseconds of std::chrono::steady_clock's epoch.
  std::int64_t steadyNanoseconds() const { return m_at; }

 private:
  double m_seconds;
  std::int64_t m_at;
};

}  // namespace host
