// The CA over CMP (RFC 4210, in the lightweight profile of RFC 9483), by
// OpenSSL's own client and HTTP transfer: an initialization request
// protected by a shared secret, or a certification or key update request
// protected by the current certificate and key.
#pragma once

#include <string>

#include "host/lifecycle/ca.h"

namespace host::lifecycle {

class CmpAuthority : public CertificateAuthority {
 public:
  // The CA at `server` ("http://HOST[:PORT][/PATH]", "http://" optional:
  // see ReadCmpAddress), each exchange bounded by `timeoutSeconds`, polling
  // included (never less than a second: OpenSSL counts whole seconds, and
  // 0 would be no bound).
  CmpAuthority(std::string server, double timeoutSeconds) : m_server(std::move(server)), m_timeout(timeoutSeconds) {}
  // Leaves OpenSSL's error queue empty.
  CaAnswer Request(const CaRequest& request) override;

 private:
  std::string m_server;
  double m_timeout;
};

}  // namespace host::lifecycle
