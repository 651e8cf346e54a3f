// A TLS connection to a peer with one trust anchor and a client pair to
// offer for mutual TLS: what the connection showed, for a trial of a new
// pair and for monitoring to judge.
#pragma once

#include <openssl/x509.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/net/deadline.h"
#include "host/tls/peer_address.h"
#include "ossl/holders.h"

namespace host::tls {

// What the probe offers and trusts; borrowed for the call.
struct HandshakeInput {
  X509* anchor = nullptr;             // the only certificate the peer is trusted by
  X509* clientCertificate = nullptr;  // the pair offered when the peer asks for one, or null
  EVP_PKEY* clientKey = nullptr;
  std::vector<X509*> clientChain;
  std::string servername;              // SNI and the name checked; empty: HOST when it is a name
  const Deadline* deadline = nullptr;  // the name lookup, connect and handshake end by it
};

struct PeerCertificate {
  std::string subject, issuer, notAfter;
  std::int64_t notAfterSeconds = 0;
};

struct HandshakeResult {
  bool connected = false;  // a TCP connection was made
  // Why there is no TLS connection: "connection refused", "no answer within
  // 2 s" (not connected); "the handshake did not finish within 2 s".
  std::string failure;
  bool handshake = false;
  std::string protocol, cipher;        // "TLSv1.3", "TLS_AES_256_GCM_SHA384"
  double seconds = 0;                  // connect and handshake, or until it failed
  std::vector<PeerCertificate> chain;  // as the peer sent it, its own first
  int verifyError = 0;                 // X509_V_OK, or why the chain does not lead to the anchor
  int anchorDepth = -1;                // where the anchor stands in the verified chain (0: the peer's own certificate)
  bool chainTrusted = false;           // the chain led to the anchor (also when the peer then refused the client)
  bool clientRequested = false;
  bool clientOffered = false;
  // The peer's verdict on what the client sent (its certificate, or none
  // when none is stored); unknown when the peer gave none in time.
  std::optional<bool> clientAccepted;
  std::string clientRefusal;  // the peer's alert: "unknown CA"
  // For the revocation checks: the chain the client verified, its own
  // certificate first and the anchor last (empty unless trusted), and the
  // OCSP response the peer stapled (DER; empty when none).
  std::vector<ossl::UniquePtr<X509>> verifiedChain;
  std::string stapledResponse;
};

// Connects by the input's deadline, handshakes and reports what it saw;
// never throws for what the network or the peer does. The deadline bounds
// the name lookup too.
HandshakeResult Handshake(const PeerAddress& target, const HandshakeInput& input);

}  // namespace host::tls
