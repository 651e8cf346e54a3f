// PKCS#12 containers: a client certificate with its key and chain, opened
// with a password (legacy algorithms included) and made as this system keeps
// them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ossl/holders.h"

namespace ossl {

// The certificate, key and other certificates of a container.
struct Container {
  UniquePtr<X509> certificate;
  UniquePtr<EVP_PKEY> key;
  std::vector<UniquePtr<X509>> others;
};

enum class ContainerProblem {
  None,
  Empty,
  NotPkcs12,      // not a PKCS#12 structure
  WrongPassword,  // its integrity check (MAC) fails with this password
  Damaged,        // the MAC holds (or there is none) but its contents cannot be read
  NoCertificate,  // it opens, and holds no certificate
  NoKey,          // it opens, and holds certificates but no private key
  KeyMismatch,    // it opens, and its private key matches none of its certificates
};

// Opens `bytes` with `password` into `container`. A container made with
// legacy algorithms (RC2-40, 3DES) is opened with OpenSSL's legacy provider,
// loaded into the process's default context the first time one needs it.
ContainerProblem OpenContainer(std::string_view bytes, const char* password, Container& container);

// What the problem says of a file ("is not a PKCS#12 container", after its
// name) or of a stored record ("its stored password does not open it");
// empty for None.
enum class ProblemHolder { File, Record };
std::string Describe(ContainerProblem problem, ProblemHolder holder);

// `key`, `certificate` and `chain` under `password`: the key shrouded with
// AES-256-CBC and PBKDF2 (SHA-256), the certificates in the clear (they are
// public: a TLS 1.2 handshake sends them so), a SHA-256 MAC over all. Each
// key derivation costs every later reading of the container, so public
// data gets none. Empty when it cannot be made.
std::string MakeContainer(EVP_PKEY* key, X509* certificate, const std::vector<X509*>& chain, const char* password);

}  // namespace ossl
