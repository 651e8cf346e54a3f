// Where a probe connects: HOST[:PORT].
#pragma once

#include <cstdint>
#include <string>

namespace certctl {

// How long a network operation may take unless --timeout says otherwise: a
// probe's connect and handshake, a revocation fetch, a CMP exchange.
constexpr double kDefaultTimeoutSeconds = 10;

// HOST[:PORT] (443 by default; an IPv6 literal in brackets, [::1]:8443).
struct ProbeTarget {
  std::string host;
  std::uint16_t port = 443;
  bool literal = false;  // HOST is an IP address, not a name

  // "host:443", "[::1]:8443"
  std::string text() const {
    return (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
  }
  // "host:443/name.example" with the server name sent to it; text() without.
  std::string text(const std::string& servername) const {
    return text() + (servername.empty() ? "" : "/" + servername);
  }
};

}  // namespace certctl
