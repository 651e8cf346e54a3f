// The CA over CMP (RFC 4210, in the lightweight profile of RFC 9483), by
// OpenSSL's own client and HTTP transfer: an initialization request
// protected by a shared secret, or a certification or key update request
// protected by the current certificate and key.
#pragma once

#include "host/lifecycle/ca.h"

namespace host::lifecycle {

// Any CA over CMP: each request names the CA's address ("http://HOST[:PORT]
// [/PATH]", "http://" optional: see ReadCmpAddress), so one serves every
// slot. An exchange ends by the request's deadline, polling included
// (OpenSSL counts whole seconds, so never less than one), else within
// kDefaultSeconds. Safe to use from several threads at once.
class CmpAuthority : public CertificateAuthority {
 public:
  static constexpr double kDefaultSeconds = 30;
  // Leaves OpenSSL's error queue empty.
  CaAnswer Request(const CaRequest& request) override;
};

}  // namespace host::lifecycle
