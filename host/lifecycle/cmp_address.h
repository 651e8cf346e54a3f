// Where a CA takes CMP requests: an http URL of a host, as OpenSSL's HTTP
// client reads it. CMP messages carry their own protection, so the client
// speaks plain HTTP; an address it cannot use is refused when it is given,
// not when a renewal first needs it.
#pragma once

#include <string>

#include "ozo/result.h"

namespace host::lifecycle {

struct CmpAddress {
  std::string host;
  int port = 80;
  std::string path = "/";
};

// Reads `url` ("http://HOST[:PORT][/PATH]", or the same without "http://")
// into `address`. Refused ("Invalid argument") with `problem` saying why,
// as a phrase after the URL ("asks for TLS, ...", "is no http URL", "has no
// port 99999: a port is 1 to 65535").
ozo::result_t ReadCmpAddress(const std::string& url, CmpAddress& address, std::string& problem);

}  // namespace host::lifecycle
