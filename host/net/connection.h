// TCP connections made within a deadline, and kept to it.
#pragma once

#include <poll.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "host/net/deadline.h"
#include "host/net/descriptor.h"

namespace host {

// Looks `host` up (a name within the deadline, see LookUp) and connects to
// its first address that answers. The connected socket (non-blocking), or
// none with `failure` saying why: "connection refused" (at once, not at the
// deadline), "no route to HOST", "name not found: HOST", "no answer from
// the resolver within 2 s", "no answer within 2 s".
Descriptor ConnectWithin(const std::string& host, std::uint16_t port, const Deadline& deadline, std::string& failure);

// Waits until `fd` is ready for `events` (POLLIN, POLLOUT) or has an error;
// false when the deadline passes first.
bool WaitFor(int fd, short events, const Deadline& deadline);

// While it lives, shuts `fd` down for reading and writing when the deadline
// passes: a read or a wait on it (OpenSSL's, whose own limits are whole
// seconds) ends then, not up to a second later.
class SocketCutoff {
 public:
  SocketCutoff(int fd, const Deadline& deadline);
  ~SocketCutoff();
  SocketCutoff(const SocketCutoff&) = delete;
  SocketCutoff& operator=(const SocketCutoff&) = delete;
  // Whether the deadline cut the socket.
  bool fired() const;

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_done;
  bool m_finished = false;
  bool m_fired = false;
  std::thread m_watch;
};

}  // namespace host
