#include "ossl/pkcs12.h"

#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>

#include "ossl/text.h"

namespace ossl {
namespace {

// The legacy provider, for containers made with RC2-40 or 3DES, in the
// process's default context (with the default provider, which an explicit
// load no longer brings in by itself). Loaded once, and only when a
// container is not read without it: certificates and modern containers need
// neither, and loading costs every process that reads one. The component
// keeps contexts of its own.
bool LoadLegacyProvider() {
  static const struct Providers {
    UniquePtr<OSSL_PROVIDER> legacy{OSSL_PROVIDER_load(nullptr, "legacy")};
    UniquePtr<OSSL_PROVIDER> standard{OSSL_PROVIDER_load(nullptr, "default")};
  } providers;
  return providers.legacy != nullptr;
}

// PKCS12_parse into `container`: 1 when parsed, and whether the MAC failed.
// PKCS12_parse checks the MAC first and says so when it fails: the key
// derivation, the dearest step, runs once for the MAC.
int Parse(PKCS12* pkcs12, const char* password, Container& container, bool& macFailed) {
  container = Container();
  EVP_PKEY* key = nullptr;
  X509* certificate = nullptr;
  STACK_OF(X509)* others = nullptr;
  ERR_clear_error();
  const int parsed = PKCS12_parse(pkcs12, password, &key, &certificate, &others);
  macFailed = ERR_GET_LIB(ERR_peek_error()) == ERR_LIB_PKCS12 &&
              ERR_GET_REASON(ERR_peek_error()) == PKCS12_R_MAC_VERIFY_FAILURE;
  container.key.reset(key);
  container.certificate.reset(certificate);
  const UniquePtr<STACK_OF(X509)> owned(others);
  while (owned && sk_X509_num(owned.get()) > 0) container.others.emplace_back(sk_X509_shift(owned.get()));
  ERR_clear_error();
  return parsed;
}

}  // namespace

ContainerProblem OpenContainer(std::string_view bytes, const char* password, Container& container) {
  container = Container();
  if (bytes.empty()) return ContainerProblem::Empty;
  const UniquePtr<BIO> bio = ReadOnlyBio(bytes);
  const UniquePtr<PKCS12> pkcs12(bio ? d2i_PKCS12_bio(bio.get(), nullptr) : nullptr);
  ERR_clear_error();
  if (!pkcs12) return ContainerProblem::NotPkcs12;
  bool macFailed = false;
  int parsed = Parse(pkcs12.get(), password, container, macFailed);
  if (!parsed && !macFailed && LoadLegacyProvider()) parsed = Parse(pkcs12.get(), password, container, macFailed);
  // PKCS12_parse takes the certificate that matches the key; another one
  // goes with the others.
  if (!parsed) return macFailed ? ContainerProblem::WrongPassword : ContainerProblem::Damaged;
  if (!container.certificate && !container.key && !container.others.empty()) return ContainerProblem::NoKey;
  if (!container.certificate)
    return container.key && !container.others.empty() ? ContainerProblem::KeyMismatch : ContainerProblem::NoCertificate;
  return ContainerProblem::None;
}

std::string MakeContainer(EVP_PKEY* key, X509* certificate, const std::vector<X509*>& chain, const char* password) {
  const UniquePtr<STACK_OF(X509)> others = CertificateStack(chain);
  const UniquePtr<PKCS12> pkcs12(others ? PKCS12_create_ex(password, nullptr, key, certificate, others.get(),
                                                           NID_aes_256_cbc, -1, PKCS12_DEFAULT_ITER, -1, 0, nullptr,
                                                           nullptr)
                                        : nullptr);
  WipedBytes der;
  if (!pkcs12 || !PKCS12_set_mac(pkcs12.get(), password, -1, nullptr, 0, PKCS12_DEFAULT_ITER, EVP_sha256()) ||
      (der.size(i2d_PKCS12(pkcs12.get(), der.out())), der.size() <= 0)) {
    ERR_clear_error();
    return "";
  }
  return std::string(reinterpret_cast<const char*>(der.data()), static_cast<std::size_t>(der.size()));
}

std::string Describe(ContainerProblem problem, ProblemHolder holder) {
  // What is said of a file (after its name) and of a stored record. A switch
  // without a default: the compiler names a problem left without words.
  const auto say = [holder](const char* file, const char* record) {
    return holder == ProblemHolder::File ? file : record;
  };
  switch (problem) {
    case ContainerProblem::None:
      return "";
    case ContainerProblem::Empty:
      return say("is empty", "it is empty");
    case ContainerProblem::NotPkcs12:
      return say("is not a PKCS#12 container", "it is not a PKCS#12 container");
    case ContainerProblem::WrongPassword:
      return say("cannot be opened with this password (its integrity check fails)",
                 "its stored password does not open it");
    case ContainerProblem::Damaged:
      return say("is damaged: its contents cannot be read", "it is damaged: its contents cannot be read");
    case ContainerProblem::NoCertificate:
      return say("holds no certificate", "it holds no certificate");
    case ContainerProblem::NoKey:
      return say("holds a certificate but no private key: a client certificate needs its key",
                 "it holds a certificate but no private key");
    case ContainerProblem::KeyMismatch:
      return say("holds a private key that matches none of its certificates",
                 "its private key matches none of its certificates");
  }
  return "";
}

}  // namespace ossl
