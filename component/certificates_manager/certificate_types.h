// The four certificate types: which values are valid, their display names and
// storage keys. What differs per record kind (settings, events) is in
// record_kind.h.
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

// Name of the type's node inside each certificate set; for types 1 to 4 only
// (check with IsValidCertificateType first).
const char* GetStorageKey(CertificateType type) noexcept;

}  // namespace ivo
