// Records that cross the certificates manager's interface and are stored.
#pragma once

#include <cstdint>
#include <utility>

#include "ozo/types/basic_string.h"
#include "ozo/types/blob.h"
#include "ozo/types/optional.h"

namespace ivo {

// Kind of outside party a certificate belongs to. Operations accept 1 to 4.
using CertificateType = std::uint32_t;
enum : CertificateType {
  CertificateTypeUnknown = 0,
  CertificateTypeZepaEdr = 1,  // endpoint-detection server
  CertificateTypeSandbox = 2,  // sandbox server
  CertificateTypeZepaNdr = 3,  // network-detection server
  CertificateTypeMiru = 4,     // SIEM collector
};

// A peer's certificate to be trusted: one X.509 certificate, DER or PEM.
struct ServerCertificate {
  static constexpr std::uint32_t TypeId = 0xD03AB684;  // stored structure type

  ozo::blob_t certificate;
};

// The product's own certificate and key: a PKCS#12 container and its password.
// The password is overwritten with zeros before its memory is released, by
// assignment and by destruction alike.
struct ClientCertificate {
  static constexpr std::uint32_t TypeId = 0x92A11B62;  // stored structure type

  ozo::blob_t certificate;
  ozo::string8_t password;

  ClientCertificate() = default;
  ClientCertificate(ozo::blob_t container, ozo::string8_t pass)
      : certificate(std::move(container)), password(std::move(pass)) {}
  ClientCertificate(const ClientCertificate&) = default;
  ClientCertificate(ClientCertificate&& other) noexcept = default;
  ClientCertificate& operator=(const ClientCertificate& other) {
    if (this != &other) {
      password.secure_clear();
      certificate = other.certificate;
      password = other.password;
    }
    return *this;
  }
  ClientCertificate& operator=(ClientCertificate&& other) noexcept {
    certificate.swap(other.certificate);
    password.swap(other.password);
    return *this;
  }
  ~ClientCertificate() { password.secure_clear(); }
};

// Who asks for a change. The manager uses kind 0 (the policy) and 2 (itself);
// callers may pass any other kind, which is copied into events unchanged.
struct InitiatorDetails {
  std::uint32_t id = 0;
  ozo::string16_t name;
};

struct ChangeInitiator {
  enum : std::uint32_t { SecurityCenter = 0, User = 1, Product = 2, Scheduler = 3 };

  std::uint32_t kind = SecurityCenter;
  ozo::types::optional_t<InitiatorDetails> details;
};

}  // namespace ivo
