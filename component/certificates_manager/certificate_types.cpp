#include "certificates_manager/certificate_types.h"

namespace ivo {
namespace {

struct TypeRow {
  const char* displayName;
  const char* storageKey;
  std::uint32_t serverSetting;
  std::uint32_t clientSetting;
  CertificateEventTypes serverEvents;
  CertificateEventTypes clientEvents;
};

// Indexed by type - 1. The event numbers come from the product-wide event
// enumeration and are not regular across types.
constexpr TypeRow kTypes[] = {
    {"ZEPA EDR", "ZepaEdr", 0xAF09109F, 0xED92BD79, {155, 156}, {157, 158}},
    {"Sandbox", "ZepaSandbox", 0x8B705BE9, 0xC9EBF60F, {207, 208}, {205, 206}},
    {"ZEPA NDR", "ZepaNdr", 0xF3D53CC4, 0xB14E9122, {223, 224}, {225, 226}},
    {"MIRU", "Siem", 0xC1E26EF6, 0x8379C310, {232, 233}, {230, 231}},
};

const TypeRow& Row(CertificateType type) noexcept { return kTypes[type - 1]; }

}  // namespace

const char* GetCertificateTypeName(CertificateType type) noexcept {
  if (type == CertificateTypeUnknown) return "unknown";
  return IsValidCertificateType(type) ? Row(type).displayName : "invalid";
}

const char* GetStorageKey(CertificateType type) noexcept { return Row(type).storageKey; }
std::uint32_t GetServerSettingId(CertificateType type) noexcept { return Row(type).serverSetting; }
std::uint32_t GetClientSettingId(CertificateType type) noexcept { return Row(type).clientSetting; }
CertificateEventTypes GetServerEventTypes(CertificateType type) noexcept { return Row(type).serverEvents; }
CertificateEventTypes GetClientEventTypes(CertificateType type) noexcept { return Row(type).clientEvents; }

}  // namespace ivo
