#include "tests/support/loopback_peers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iterator>
#include <regex>
#include <stdexcept>
#include <thread>

#include "tests/support/process.h"

namespace test {
namespace {

// How long a server lives when nobody stops it: longer than the longest
// session, short enough that a crashed test leaves nothing running for long.
constexpr int kServerLifetimeSeconds = 300;

// A TCP socket bound to 127.0.0.1 on `port`, or on a port the kernel
// chooses when it is 0. A given port is taken over from a server that has
// just stopped, whose connections may linger in TIME_WAIT: hence
// SO_REUSEADDR, which still keeps the port from being chosen for another.
int BoundSocket(std::string& address, std::uint16_t port = 0) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int reuse = 1;
  if (fd >= 0 && port != 0) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse));
  sockaddr_in bound{};
  bound.sin_family = AF_INET;
  bound.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bound.sin_port = htons(port);
  socklen_t length = sizeof(bound);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&bound), sizeof(bound)) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("cannot bind a loopback socket");
  }
  address = "127.0.0.1:" + std::to_string(ntohs(bound.sin_port));
  return fd;
}

// Reads exactly `size` bytes; false when the connection ends first.
bool ReadExactly(int fd, char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t got = ::read(fd, data, size);
    if (got <= 0) return false;
    data += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd, data, size);
    if (put <= 0) return false;
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

int ConnectTo(const std::string& address) {
  const std::size_t colon = address.rfind(':');
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<std::uint16_t>(std::stoi(LoopbackPeers::PortOf(address))));
  ::inet_pton(AF_INET, address.substr(0, colon).c_str(), &peer.sin_addr);
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof(peer)) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

// One connection of a hostile peer.
void Misbehave(int client, const std::string& kind, const std::string& detail) {
  char buffer[16384];
  if (kind == "status") {
    std::string request;
    for (ssize_t got;
         request.find("\r\n\r\n") == std::string::npos && (got = ::read(client, buffer, sizeof(buffer))) > 0;)
      request.append(buffer, static_cast<std::size_t>(got));
    const std::string answer = "HTTP/1.0 " + detail + "\r\nContent-Length: 0\r\n\r\n";
    WriteAll(client, answer.data(), answer.size());
    return;
  }
  if (kind == "flood") {
    std::fill(std::begin(buffer), std::end(buffer), '\xAB');
    while (WriteAll(client, buffer, sizeof(buffer))) {
    }
    return;
  }
  if (kind == "slow") {  // the peer at `detail`, a second late with every connection
    ::sleep(1);
    const int server = ConnectTo(detail);
    pollfd ends[] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    for (bool open = server >= 0; open && ::poll(ends, 2, 30000) > 0;)
      for (int from = 0; from < 2 && open; ++from)
        if (ends[from].revents) {
          const ssize_t got = ::read(ends[from].fd, buffer, sizeof(buffer));
          open = got > 0 && WriteAll(ends[1 - from].fd, buffer, static_cast<std::size_t>(got));
        }
    if (server >= 0) ::close(server);
    return;
  }
  const int server = ConnectTo(detail);
  const ssize_t hello = ::read(client, buffer, sizeof(buffer));
  char header[5];
  if (server < 0 || hello <= 0 || !WriteAll(server, buffer, static_cast<std::size_t>(hello)) ||
      !ReadExactly(server, header, sizeof(header))) {
    if (server >= 0) ::close(server);
    return;
  }
  const std::size_t length = static_cast<unsigned char>(header[3]) << 8 | static_cast<unsigned char>(header[4]);
  if (length <= sizeof(buffer) && ReadExactly(server, buffer, length) && WriteAll(client, header, sizeof(header)) &&
      WriteAll(client, buffer, length)) {
    const std::string text = "this is no TLS record, only text sent after the ServerHello\r\n";
    for (int i = 0; i < 64 && WriteAll(client, text.data(), text.size()); ++i) {
    }
  }
  ::close(server);
}

}  // namespace

LoopbackPeers::~LoopbackPeers() {
  for (const pid_t server : m_servers) {
    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
  }
  for (const int listener : m_listeners) ::close(listener);
  for (const auto& [address, socket] : m_reserved) ::close(socket);
}

std::string LoopbackPeers::Serve(const std::vector<std::string>& arguments, const std::string& folder) {
  std::vector<std::string> command = {"openssl", "s_server", "-accept", "127.0.0.1:0", "-www"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return Start(command, folder, "openssl s_server");
}

std::string LoopbackPeers::Cmp(const std::vector<std::string>& arguments, const std::string& folder) {
  std::vector<std::string> command = {"openssl", "cmp", "-port", "0"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return Start(command, folder, "openssl cmp");
}

pid_t LoopbackPeers::Spawn(const std::vector<std::string>& command, const std::string& folder,
                           const std::string& output) {
  // timeout passes the SIGTERM it is sent on to the server.
  std::vector<std::string> argv = {"/bin/sh", "-c",      "cd \"$0\" && exec \"$@\"",
                                   folder,    "timeout", std::to_string(kServerLifetimeSeconds)};
  argv.insert(argv.end(), command.begin(), command.end());
  const pid_t server = SpawnProcess(argv, output, output + ".err");
  if (server <= 0) throw std::runtime_error("cannot start " + command.front());
  m_servers.push_back(server);
  return server;
}

std::string LoopbackPeers::Start(const std::vector<std::string>& command, const std::string& folder,
                                 const std::string& name) {
  const std::string out = folder + "/server." + std::to_string(m_servers.size()) + ".out";
  const pid_t server = Spawn(command, folder, out);
  static const std::regex kAccept(R"(ACCEPT (127\.0\.0\.1|\[::\]):(\d+))");
  for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
       std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
    std::smatch accept;
    const std::string printed = ReadWholeFile(out) + ReadWholeFile(out + ".err");
    if (std::regex_search(printed, accept, kAccept)) {
      const std::string address = "127.0.0.1:" + accept[2].str();
      m_addresses.emplace_back(address, server);
      return address;
    }
  }
  throw std::runtime_error(name + " did not start: " + ReadWholeFile(out + ".err"));
}

std::string LoopbackPeers::StartOn(const std::vector<std::string>& command, const std::string& folder,
                                   const std::string& address) {
  const std::string out = folder + "/server." + std::to_string(m_servers.size()) + ".out";
  const pid_t server = Spawn(command, folder, out);
  for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
       std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
    const int probe = ConnectTo(address);
    if (probe >= 0) {
      ::close(probe);
      m_addresses.emplace_back(address, server);
      return address;
    }
  }
  throw std::runtime_error(command.front() + " did not start on " + address + ": " + ReadWholeFile(out + ".err"));
}

std::string LoopbackPeers::Ocsp(const std::string& address, const std::vector<std::string>& arguments,
                                const std::string& folder) {
  std::vector<std::string> command = {"openssl", "ocsp", "-port", PortOf(address)};
  command.insert(command.end(), arguments.begin(), arguments.end());
  Release(address);
  // Waits for its "ACCEPT" line: a connection made only to see it listen
  // stalls openssl ocsp, which serves one connection at a time.
  return Start(command, folder, "openssl ocsp");
}

std::string LoopbackPeers::Http(const std::string& address, const std::string& folder) {
  Release(address);
  return StartOn({"python3", "-m", "http.server", "--bind", "127.0.0.1", PortOf(address), "--directory", folder},
                 folder, address);
}

void LoopbackPeers::Stop(const std::string& address) {
  for (const auto& [known, server] : m_addresses)
    if (known == address) {
      ::kill(server, SIGTERM);
      ::waitpid(server, nullptr, 0);
      m_servers.erase(std::remove(m_servers.begin(), m_servers.end(), server), m_servers.end());
      Reserve(static_cast<std::uint16_t>(std::stoi(PortOf(address))));
      return;
    }
  throw std::invalid_argument("no server at " + address);
}

std::string LoopbackPeers::Silent() {
  std::string address;
  const int listener = BoundSocket(address);
  m_listeners.push_back(listener);
  if (::listen(listener, 8) != 0) throw std::runtime_error("cannot listen on " + address);
  return address;
}

std::string LoopbackPeers::Hostile(const std::string& kind, const std::string& detail) {
  if (kind != "garbage" && kind != "flood" && kind != "status" && kind != "slow")
    throw std::invalid_argument("no hostile peer '" + kind + "'");
  std::string address;
  const int listener = BoundSocket(address);
  if (::listen(listener, 8) != 0) throw std::runtime_error("cannot listen on " + address);
  const pid_t peer = ::fork();
  if (peer < 0) throw std::runtime_error("cannot start a hostile peer");
  if (peer == 0) {  // serves until it is stopped, or for its lifetime
    ::signal(SIGPIPE, SIG_IGN);
    ::alarm(kServerLifetimeSeconds);
    for (;;) {
      const int client = ::accept(listener, nullptr, nullptr);
      if (client < 0) continue;
      Misbehave(client, kind, detail);
      ::close(client);
    }
  }
  ::close(listener);
  m_servers.push_back(peer);
  return address;
}

std::string LoopbackPeers::Unused() { return Reserve(0); }

std::string LoopbackPeers::PortOf(const std::string& address) { return address.substr(address.rfind(':') + 1); }

std::string LoopbackPeers::Reserve(std::uint16_t port) {
  std::string address;
  const int socket = BoundSocket(address, port);
  m_reserved.emplace_back(address, socket);
  return address;
}

void LoopbackPeers::Release(const std::string& address) {
  const auto reserved = std::find_if(m_reserved.begin(), m_reserved.end(),
                                     [&address](const auto& entry) { return entry.first == address; });
  if (reserved == m_reserved.end()) return;
  ::close(reserved->second);
  m_reserved.erase(reserved);
}

}  // namespace test
