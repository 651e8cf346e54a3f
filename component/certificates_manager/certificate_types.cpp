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
std::uint32_t GetServerSettingId(CertificateType type) noexcept { return Row(type).serverSetting; }
std::uint32_t GetClientSettingId(CertificateType type) noexcept { return Row(type).clientSetting; }
CertificateEventTypes GetServerEventTypes(CertificateType type) noexcept {
  return {Row(type).serverAdded, Row(type).serverRemoved};
}
CertificateEventTypes GetClientEventTypes(CertificateType type) noexcept {
  return {Row(type).clientAdded, Row(type).clientRemoved};
}

}  // namespace ivo
