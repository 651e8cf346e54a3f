// Network peers on the loopback address for tests that probe them: real TLS
// servers (openssl s_server), a listener that never answers, and a port
// nothing listens on. Each is stopped or closed with the object; a server
// also ends on its own after five minutes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace test {

class LoopbackPeers {
 public:
  LoopbackPeers() = default;
  ~LoopbackPeers();
  LoopbackPeers(const LoopbackPeers&) = delete;
  LoopbackPeers& operator=(const LoopbackPeers&) = delete;

  // Starts `openssl s_server -www` with `arguments` in `folder` on a port of
  // its choosing; "127.0.0.1:PORT" once it accepts. Throws
  // std::runtime_error when it does not start within 10 s.
  std::string Serve(const std::vector<std::string>& arguments, const std::string& folder);
  // Starts OpenSSL's mock CMP server, `openssl cmp -port 0` with
  // `arguments`, in `folder`; "127.0.0.1:PORT" once it accepts (it listens
  // on every address; tests reach it on the loopback one).
  std::string Cmp(const std::vector<std::string>& arguments, const std::string& folder);
  // Starts `openssl ocsp -port P` with `arguments` in `folder`, where P is
  // the port of `address` (one Unused gave); `address` once it listens.
  std::string Ocsp(const std::string& address, const std::vector<std::string>& arguments, const std::string& folder);
  // Starts a static HTTP server of `folder` on `address` (one Unused gave).
  std::string Http(const std::string& address, const std::string& folder);
  // Stops the server started at `address` by Serve, Cmp, Ocsp or Http. Its
  // port stays reserved, as Unused's are: connections to it are refused and
  // no server started later is given it.
  void Stop(const std::string& address);
  // A listener whose connections complete (the kernel accepts them) and
  // never hear a byte.
  std::string Silent();
  // A peer that works against its client, on a port of its own:
  //  "garbage": relays the ClientHello to `detail` (a Serve address) and
  //             its first record (the ServerHello) back, then sends text;
  //  "flood":   answers every connection with bytes that never end;
  //  "status":  answers every HTTP request with the status line
  //             "HTTP/1.0 `detail`" (a code and a reason phrase) and no body;
  //  "slow":    relays every connection to `detail` a second after it came:
  //             a CA that takes a second for each message.
  std::string Hostile(const std::string& kind, const std::string& detail);
  // A port nothing listens on: connections are refused. It stays reserved
  // (bound, never listening) until Ocsp or Http starts a server on it or
  // the object ends, so no server started meanwhile is given the same port.
  std::string Unused();
  // The port of "HOST:PORT".
  static std::string PortOf(const std::string& address);

 private:
  // Starts `command` (under `timeout`) in `folder` and waits for the
  // port its output names after "ACCEPT ".
  std::string Start(const std::vector<std::string>& command, const std::string& folder, const std::string& name);
  // Starts `command` (under `timeout`) in `folder` and waits until
  // `address` accepts connections.
  std::string StartOn(const std::vector<std::string>& command, const std::string& folder, const std::string& address);
  pid_t Spawn(const std::vector<std::string>& command, const std::string& folder, const std::string& output);
  // Holds `port` (one of the kernel's choosing when 0) bound and never
  // listening until Release or the end of the object; its address.
  std::string Reserve(std::uint16_t port);
  // Frees the port of `address` that Unused holds, for the server about to
  // listen on it.
  void Release(const std::string& address);

  std::vector<pid_t> m_servers;
  std::vector<std::pair<std::string, pid_t>> m_addresses;
  std::vector<int> m_listeners;
  std::vector<std::pair<std::string, int>> m_reserved;  // a reserved port's address, its bound socket
};

}  // namespace test
