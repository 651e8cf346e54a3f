// The fixed ids of the four certificate types: what the policy and the event
// consumers see. Types 1 to 4 are rows 0 to 3.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "ivo/certificate_records.h"

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

// A peer type that can only be one of the four: a number or a word from
// anywhere (an order, a store row, a backup, a command line, the journal) is
// read into one by From or Parse, which refuse anything else, so every
// lookup by type through it is in bounds. It converts to the component's
// CertificateType for the manager's calls.
class PeerType {
 public:
  // The type numbered `value`; none for a number outside 1 to 4.
  static constexpr std::optional<PeerType> From(std::uint64_t value) noexcept {
    if (value < 1 || value > std::size(kCertificateTypeIds)) return std::nullopt;
    return PeerType(static_cast<CertificateType>(value));
  }
  // The type a person names: its keyword in any case ("edr", "SIEM") or its
  // number ("1" to "4"); none for anything else.
  static constexpr std::optional<PeerType> Parse(std::string_view text) noexcept {
    for (const PeerType type : All()) {
      const std::string_view keyword = type.keyword();
      bool same = text.size() == keyword.size();
      for (std::size_t i = 0; same && i < text.size(); ++i)
        same = (text[i] >= 'A' && text[i] <= 'Z' ? text[i] - 'A' + 'a' : text[i]) == keyword[i];
      if (same || (text.size() == 1 && text[0] == static_cast<char>('0' + type.m_value))) return type;
    }
    return std::nullopt;
  }
  // The four, in order.
  static constexpr std::array<PeerType, std::size(kCertificateTypeIds)> All() noexcept {
    return {PeerType(1), PeerType(2), PeerType(3), PeerType(4)};
  }

  constexpr CertificateType value() const noexcept { return m_value; }
  constexpr operator CertificateType() const noexcept { return m_value; }
  constexpr const CertificateTypeIds& ids() const noexcept { return kCertificateTypeIds[m_value - 1]; }
  constexpr const char* keyword() const noexcept { return ids().keyword; }

  friend constexpr bool operator==(PeerType a, PeerType b) noexcept { return a.m_value == b.m_value; }
  friend constexpr bool operator!=(PeerType a, PeerType b) noexcept { return a.m_value != b.m_value; }
  friend constexpr bool operator<(PeerType a, PeerType b) noexcept { return a.m_value < b.m_value; }

 private:
  constexpr explicit PeerType(CertificateType value) noexcept : m_value(value) {}
  CertificateType m_value;
};
static_assert(std::size(kCertificateTypeIds) == 4 && PeerType::All().back().value() == 4,
              "PeerType::All lists every row of the table");
static_assert(PeerType::Parse("SIEM") && PeerType::Parse("SIEM")->value() == 4 && PeerType::Parse("2") &&
                  !PeerType::Parse("5") && !PeerType::Parse("") && !PeerType::From(0) && !PeerType::From(5),
              "PeerType reads exactly the four types");

}  // namespace ivo
