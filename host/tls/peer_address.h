// Where a TLS peer listens: HOST[:PORT], as a person writes it.
#pragma once

#include <cstdint>
#include <string>

namespace host::tls {

// HOST[:PORT] (443 by default; an IPv6 literal in brackets, [::1]:8443).
struct PeerAddress {
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

// Reads "HOST[:PORT]" into `address`; false with `problem` a sentence that
// quotes the text ("'x://y' is a URL; give HOST[:PORT], such as y").
bool ReadPeerAddress(const std::string& text, PeerAddress& address, std::string& problem);

}  // namespace host::tls
