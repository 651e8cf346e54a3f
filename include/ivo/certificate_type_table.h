// The fixed ids of the four certificate types: what the policy and the event
// consumers see. Types 1 to 4 are rows 0 to 3.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <iterator>

namespace ivo {

// The storage layout under the component's tree: two sets, each holding one
// child per certificate type (named by the type's storage key) with one
// serialised record in it, of structure type ServerCertificate::TypeId or
// ClientCertificate::TypeId (ivo/certificate_records.h).
inline constexpr const char* kServerCertificatesSet = "ServerCertificates";
inline constexpr const char* kClientCertificatesSet = "ClientCertificates";

struct CertificateTypeIds {
  const char* displayName;      // in trace lines
  const char* storageKey;       // node name inside each certificate set
  const char* keyword;          // what a person types for the type (tools)
  const char* eventStem;        // event names: stem + "ServerCertificateAdded", ...
  std::uint32_t serverSetting;  // policy setting guarding local changes
  std::uint32_t clientSetting;
  std::uint32_t serverAdded, serverRemoved;  // published event types
  std::uint32_t clientAdded, clientRemoved;
};

// Not regular across types: the values come from product-wide enumerations.
inline constexpr CertificateTypeIds kCertificateTypeIds[] = {
    {"ZEPA EDR", "ZepaEdr", "edr", "ZepaEdr", 0xAF09109F, 0xED92BD79, 155, 156, 157, 158},
    {"Sandbox", "ZepaSandbox", "sandbox", "Sandbox", 0x8B705BE9, 0xC9EBF60F, 207, 208, 205, 206},
    {"ZEPA NDR", "ZepaNdr", "ndr", "ZepaNdr", 0xF3D53CC4, 0xB14E9122, 223, 224, 225, 226},
    {"MIRU", "Siem", "siem", "Miru", 0xC1E26EF6, 0x8379C310, 232, 233, 230, 231},
};

namespace detail {
// Every setting id and event type of the table differs from every other (and
// from the shared "certificate expired" event, 146): a consumer tells them
// apart by value alone.
constexpr bool AllIdsDistinct() {
  std::uint32_t ids[std::size(kCertificateTypeIds) * 6 + 1] = {146};
  std::size_t count = 1;
  for (const CertificateTypeIds& row : kCertificateTypeIds)
    for (std::uint32_t id : {row.serverSetting, row.clientSetting, row.serverAdded, row.serverRemoved, row.clientAdded,
                             row.clientRemoved}) {
      for (std::size_t i = 0; i < count; ++i)
        if (ids[i] == id) return false;
      ids[count++] = id;
    }
  return true;
}
}  // namespace detail
static_assert(detail::AllIdsDistinct(), "a setting id or event type is used twice");

}  // namespace ivo
