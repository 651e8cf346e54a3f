#include "host/lifecycle/cmp_address.h"

#include <openssl/err.h>
#include <openssl/http.h>

#include "ossl/holders.h"

namespace host::lifecycle {
namespace {

// The port written in `authority` (what follows the host), or empty.
std::string WrittenPort(const std::string& authority) {
  const std::size_t close = authority.rfind(']');
  const std::size_t colon = authority.rfind(':');
  if (colon == std::string::npos || (close != std::string::npos && colon < close)) return "";
  return authority.substr(colon + 1);
}

// Why `url` is no CMP address, or empty when it is one (then in `address`).
std::string ProblemOf(const std::string& url, CmpAddress& address) {
  const std::size_t scheme = url.find("://");
  if (scheme != std::string::npos && url.compare(0, scheme, "http") != 0)
    return url.compare(0, scheme, "https") == 0
               ? "asks for TLS, which is not spoken to a CA: CMP messages carry their own protection, so give its "
                 "http:// URL"
               : "is no http URL";
  const std::string full = scheme == std::string::npos ? "http://" + url : url;
  const std::size_t start = full.find("://") + 3;
  const std::string authority = full.substr(start, full.find_first_of("/?#", start) - start);
  const std::string port = WrittenPort(authority);
  if (!port.empty() && (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
                        std::stoi(port) < 1 || std::stoi(port) > 65535))
    return "has no port " + port + ": a port is 1 to 65535";
  char *host = nullptr, *path = nullptr;
  int number = 0;
  ERR_clear_error();
  const bool parsed =
      OSSL_HTTP_parse_url(full.c_str(), nullptr, nullptr, &host, nullptr, &number, &path, nullptr, nullptr) == 1;
  const ossl::Memory<char> ownedHost(host), ownedPath(path);
  const char* reason = ERR_reason_error_string(ERR_peek_error());
  ERR_clear_error();
  if (!parsed) return std::string("is no URL") + (reason ? " (" + std::string(reason) + ")" : "");
  if (!host || !*host) return "names no host";
  address = {host, number, path ? path : "/"};
  return "";
}

}  // namespace

ozo::result_t ReadCmpAddress(const std::string& url, CmpAddress& address, std::string& problem) {
  problem = ProblemOf(url, address);
  return problem.empty() ? ozo::results::NoError : ozo::results::InvalidArgument;
}

}  // namespace host::lifecycle
