#include "tests/support/loopback_peers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <stdexcept>
#include <thread>

#include "tests/support/process.h"

namespace test {
namespace {

// A TCP socket bound to 127.0.0.1 on a port the kernel chooses.
int BoundSocket(std::string& address) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in bound{};
  bound.sin_family = AF_INET;
  bound.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(bound);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&bound), sizeof(bound)) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("cannot bind a loopback socket");
  }
  address = "127.0.0.1:" + std::to_string(ntohs(bound.sin_port));
  return fd;
}

}  // namespace

LoopbackPeers::~LoopbackPeers() {
  for (const pid_t server : m_servers) {
    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
  }
  for (const int listener : m_listeners) ::close(listener);
}

std::string LoopbackPeers::Serve(const std::vector<std::string>& arguments, const std::string& folder) {
  // timeout passes the SIGTERM it is sent on to openssl.
  std::vector<std::string> argv = {
      "/bin/sh",     "-c",  "cd \"$0\" && exec \"$@\"", folder, "timeout", "120", "openssl", "s_server", "-accept",
      "127.0.0.1:0", "-www"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const std::string out = folder + "/s_server." + std::to_string(m_servers.size()) + ".out";
  const pid_t server = SpawnProcess(argv, out, out + ".err");
  if (server <= 0) throw std::runtime_error("cannot start openssl s_server");
  m_servers.push_back(server);
  static const std::regex kAccept(R"(ACCEPT (127\.0\.0\.1:\d+))");
  for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
       std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
    std::smatch accept;
    const std::string printed = ReadWholeFile(out);
    if (std::regex_search(printed, accept, kAccept)) return accept[1];
  }
  throw std::runtime_error("openssl s_server did not start: " + ReadWholeFile(out + ".err"));
}

std::string LoopbackPeers::Silent() {
  std::string address;
  const int listener = BoundSocket(address);
  m_listeners.push_back(listener);
  if (::listen(listener, 8) != 0) throw std::runtime_error("cannot listen on " + address);
  return address;
}

std::string LoopbackPeers::Unused() {
  std::string address;
  ::close(BoundSocket(address));
  return address;
}

}  // namespace test
