// Fixed tables of the four certificate types: display names, storage keys,
// policy setting ids and event numbers.
#pragma once

#include <cstdint>

#include "ivo/certificate_records.h"

namespace ivo {

// True for the types every operation accepts (1 to 4).
constexpr bool IsValidCertificateType(CertificateType type) noexcept {
  return type >= CertificateTypeZepaEdr && type <= CertificateTypeMiru;
}

// The display name used in trace lines: "unknown" for 0, the table's name for
// 1 to 4, and "invalid" for any value above 4. Static, never null.
const char* GetCertificateTypeName(CertificateType type) noexcept;

// The remaining lookups are defined for types 1 to 4 only (check with
// IsValidCertificateType first); none allocates, locks or fails.

// Name of the type's node inside each certificate set.
const char* GetStorageKey(CertificateType type) noexcept;

// Policy setting guarding local changes of the type's certificate.
std::uint32_t GetServerSettingId(CertificateType type) noexcept;
std::uint32_t GetClientSettingId(CertificateType type) noexcept;

// Event types published when a certificate is added or removed.
struct CertificateEventTypes {
  std::uint32_t added;
  std::uint32_t removed;
};
CertificateEventTypes GetServerEventTypes(CertificateType type) noexcept;
CertificateEventTypes GetClientEventTypes(CertificateType type) noexcept;

// Overloads by record kind, for code written once for both kinds.
inline std::uint32_t GetSettingId(CertificateType type, const ServerCertificate*) noexcept {
  return GetServerSettingId(type);
}
inline std::uint32_t GetSettingId(CertificateType type, const ClientCertificate*) noexcept {
  return GetClientSettingId(type);
}
inline CertificateEventTypes GetEventTypes(CertificateType type, const ServerCertificate*) noexcept {
  return GetServerEventTypes(type);
}
inline CertificateEventTypes GetEventTypes(CertificateType type, const ClientCertificate*) noexcept {
  return GetClientEventTypes(type);
}

}  // namespace ivo
