// Sets the process's local time zone for a scope and restores it after.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace test {

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* current = std::getenv("TZ")) m_saved = current;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    m_saved ? ::setenv("TZ", m_saved->c_str(), 1) : ::unsetenv("TZ");
    ::tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> m_saved;
};

}  // namespace test
