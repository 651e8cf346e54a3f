#include "host/net/connection.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "host/net/deadline_clock.h"
#include "host/net/name_lookup.h"

namespace host {

bool WaitFor(int fd, short events, const Deadline& deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(MomentOf(deadline) - DeadlineClock::now()).count();
    if (left <= 0) return false;
    pollfd wanted{fd, events, 0};
    const int ready = ::poll(&wanted, 1, static_cast<int>(left));
    if (ready != 0 && !(ready < 0 && errno == EINTR)) return true;  // ready, or an error the caller meets
  }
}

Descriptor ConnectWithin(const std::string& host, std::uint16_t port, const Deadline& deadline, std::string& failure) {
  in6_addr ip6{};
  in_addr ip4{};
  const bool literal = ::inet_pton(AF_INET6, host.c_str(), &ip6) == 1 || ::inet_pton(AF_INET, host.c_str(), &ip4) == 1;
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | (literal ? AI_NUMERICHOST : 0);
  AddressList found(nullptr, ::freeaddrinfo);
  bool timedOut = false;
  if (const int code = LookUp(host, std::to_string(port), hints, MomentOf(deadline), found, timedOut)) {
    failure = timedOut                                   ? "no answer from the resolver " + deadline.Within()
              : code == EAI_NONAME || code == EAI_NODATA ? "name not found: " + host
                                                         : "cannot resolve " + host + ": " + gai_strerror(code);
    return Descriptor();
  }
  int error = 0;
  for (const addrinfo* address = found.get(); address; address = address->ai_next) {
    Descriptor socket(::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket) {
      error = errno;
      continue;
    }
    if (::connect(socket.get(), address->ai_addr, address->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) {
        error = errno;
        continue;
      }
      if (!WaitFor(socket.get(), POLLOUT, deadline)) {
        failure = "no answer " + deadline.Within();
        return Descriptor();
      }
      socklen_t length = sizeof(error);
      ::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length);
      if (error) continue;
    }
    return socket;
  }
  failure = error == ECONNREFUSED                           ? "connection refused"
            : error == ENETUNREACH || error == EHOSTUNREACH ? "no route to " + host
                                                            : std::strerror(error);
  return Descriptor();
}

SocketCutoff::SocketCutoff(int fd, const Deadline& deadline) {
  try {
    m_watch = std::thread([this, fd, at = MomentOf(deadline)] {
      std::unique_lock<std::mutex> lock(m_mutex);
      if (m_done.wait_until(lock, at, [this] { return m_finished; })) return;
      m_fired = true;
      ::shutdown(fd, SHUT_RDWR);
    });
  } catch (const std::system_error&) {
    // No thread to be had: OpenSSL's own limit, at most a second later, stands.
  }
}

SocketCutoff::~SocketCutoff() {
  {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_finished = true;
  }
  m_done.notify_one();
  if (m_watch.joinable()) m_watch.join();
}

bool SocketCutoff::fired() const {
  const std::lock_guard<std::mutex> lock(m_mutex);
  return m_fired;
}

}  // namespace host
