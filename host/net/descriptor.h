// A file descriptor owned for its lifetime.
#pragma once

#include <unistd.h>

#include <utility>

namespace host {

// Closes its descriptor on every path; moves hand it on, copies are not
// allowed (two owners would close it twice).
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) noexcept : m_fd(fd) {}
  Descriptor(Descriptor&& other) noexcept : m_fd(other.release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { reset(); }

  int get() const noexcept { return m_fd; }
  explicit operator bool() const noexcept { return m_fd >= 0; }
  int release() noexcept { return std::exchange(m_fd, -1); }
  void reset(int fd = -1) noexcept {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
  }

 private:
  int m_fd;
};

}  // namespace host
