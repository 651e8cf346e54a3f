// What a certificate request asks for: taken from a certificate (to ask for
// it again) or from an earlier request, completed with a client
// certificate's usages, and signed as a PKCS#10 request.
#pragma once

#include <openssl/types.h>

#include <string>
#include <utility>
#include <vector>

#include "host/lifecycle/records.h"
#include "ossl/holders.h"
#include "ozo/result.h"

namespace host::lifecycle {

// The name of `fields`, in order; null with `error` saying which field
// OpenSSL refuses ("C=USA": a country is its two-letter code).
ossl::UniquePtr<X509_NAME> NameOf(const NameFields& fields, std::string& error);

// What `certificate` asks for again: its subject, its DNS, IP, email and URI
// alternative names, its key usages and its extended key usages.
RequestSubject SubjectOf(X509* certificate);

// `subject` with what a TLS client certificate needs where it names no
// usage: a signature (and key encipherment for RSA), client authentication.
RequestSubject ForClientUse(RequestSubject subject, KeyAlgorithm algorithm);

// A request as PEM, and what it asks for in DER: its subject name and its
// extensions (empty when it has none), which SubjectOfDer reads back
// without decoding a key.
struct RequestDocument {
  std::string pem;
  std::string nameDer;
  std::string extensionsDer;
};

// A PKCS#10 request for `key` with `subject`, signed by the key (SHA-256
// for RSA and EC keys). Refused ("Invalid argument") for a subject a
// request cannot hold, and fails ("Unspecified error") when it cannot be
// signed; `error` says why.
ozo::result_t SignedRequest(EVP_PKEY* key, const RequestSubject& subject, RequestDocument& document,
                            std::string& error);

// What a request asked for, from RequestDocument's DER; false when the
// bytes are no name or extensions.
bool SubjectOfDer(const std::string& nameDer, const std::string& extensionsDer, RequestSubject& subject);

}  // namespace host::lifecycle
