// Where a CA takes CMP requests: an http URL of a host, as OpenSSL's HTTP
// client reads it. CMP messages carry their own protection, so the client
// speaks plain HTTP; an address it cannot use is refused when it is given,
// not when a renewal first needs it.
#pragma once

#include <string>

namespace host::lifecycle {

struct CmpAddress {
  std::string host;
  int port = 80;
  std::string path = "/";
};

// Reads `url` ("http://HOST[:PORT][/PATH]", or the same without "http://")
// into `address`. Empty on success; else why not, as a phrase after the URL
// ("asks for TLS, ...", "is no http URL", "has no port 99999: a port is 1 to
// 65535").
std::string ReadCmpAddress(const std::string& url, CmpAddress& address);

}  // namespace host::lifecycle
