// What a certificate request asks for, taken from a certificate (to ask for
// it again) or from a request, a request signed for a key, and names as
// people read them.
#pragma once

#include <openssl/x509v3.h>

#include <string>
#include <utility>
#include <vector>

#include "host/openssl_holders.h"

namespace host {

// A name's fields in order ({"CN", "agent"}); subject alternative names in
// openssl's words ("DNS:agent.test", "IP:10.0.0.1", "email:a@b",
// "URI:https://x"); usages in openssl's words ("digitalSignature",
// "clientAuth").
struct RequestSubject {
  std::vector<std::pair<std::string, std::string>> name;
  std::vector<std::string> alternativeNames;
  std::vector<std::string> keyUsage;
  std::vector<std::string> extendedKeyUsage;
};

// The name of `fields`, in order; null with `error` saying which field
// OpenSSL refuses ("C=USA": a country is two letters).
UniquePtr<X509_NAME> NameOf(const std::vector<std::pair<std::string, std::string>>& fields, std::string& error);

// What `certificate` asks for again: its subject, its DNS, IP, email and URI
// alternative names, its key usages and its extended key usages.
RequestSubject SubjectOf(X509* certificate);

// A request as PEM, and what it asks for in DER: its subject name and its
// extensions (empty when it has none), which SubjectOfDer reads back
// without decoding a key.
struct RequestDocument {
  std::string pem;
  std::string nameDer;
  std::string extensionsDer;
};

// A PKCS#10 request for `key` with `subject`, signed by the key (SHA-256
// for RSA and EC keys). On failure `error` says why.
bool SignedRequest(EVP_PKEY* key, const RequestSubject& subject, RequestDocument& document, std::string& error);

// What a request asked for, from RequestDocument's DER; false when the
// bytes are no name or extensions.
bool SubjectOfDer(const std::string& nameDer, const std::string& extensionsDer, RequestSubject& subject);

// A name in UTF-8, its parts in the stored order as the component prints
// them ("CN=edr.test, O=Test Org"), with RFC 2253 escapes for , + " \ < > ;.
std::string NameText(const X509_NAME* name);

// "DNS:edr.test", "IP:127.0.0.1", "email:a@b", "URI:https://x" (openssl's
// form), "DirName:CN=x", "other name".
std::string AlternativeNameText(const GENERAL_NAME* name);

}  // namespace host
