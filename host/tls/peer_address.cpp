#include "host/tls/peer_address.h"

#include <arpa/inet.h>

namespace host::tls {

bool ReadPeerAddress(const std::string& text, PeerAddress& out, std::string& problem) {
  const std::string malformed = "'" + text + "' is no HOST[:PORT] (an IPv6 address stands in brackets: [::1]:443)";
  if (text.find("://") != std::string::npos) {
    problem = "'" + text + "' is a URL; give HOST[:PORT], such as " + text.substr(text.find("://") + 3);
    return false;
  }
  PeerAddress address;
  std::size_t portColon = std::string::npos;  // the colon before the port, if any
  if (!text.empty() && text[0] == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string::npos || (close + 1 < text.size() && text[close + 1] != ':')) {
      problem = malformed;
      return false;
    }
    address.host = text.substr(1, close - 1);
    if (close + 1 < text.size()) portColon = close + 1;
  } else {
    portColon = text.find(':');
    if (portColon != std::string::npos && text.find(':', portColon + 1) != std::string::npos) {
      problem = malformed;
      return false;
    }
    address.host = text.substr(0, portColon);
  }
  if (address.host.empty()) {
    problem = "'" + text + "' names no host";
    return false;
  }
  if (portColon != std::string::npos) {
    const std::string port = text.substr(portColon + 1);
    const bool digits = !port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos;
    const unsigned long number = digits ? std::stoul(port) : 0;
    if (number < 1 || number > 65535) {
      problem = "the port of '" + text + "' is not one from 1 to 65535";
      return false;
    }
    address.port = static_cast<std::uint16_t>(number);
  }
  in6_addr ip6{};
  in_addr ip4{};
  address.literal =
      ::inet_pton(AF_INET6, address.host.c_str(), &ip6) == 1 || ::inet_pton(AF_INET, address.host.c_str(), &ip4) == 1;
  out = address;
  return true;
}

}  // namespace host::tls
