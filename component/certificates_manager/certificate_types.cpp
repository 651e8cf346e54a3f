#include "certificates_manager/certificate_types.h"

#include "ivo/certificate_type_table.h"

namespace ivo {
namespace {

const CertificateTypeIds& Row(CertificateType type) noexcept { return kCertificateTypeIds[type - 1]; }

}  // namespace

const char* GetCertificateTypeName(CertificateType type) noexcept {
  if (type == CertificateTypeUnknown) return "unknown";
  return IsValidCertificateType(type) ? Row(type).displayName : "invalid";
}

const char* GetStorageKey(CertificateType type) noexcept { return Row(type).storageKey; }

}  // namespace ivo
