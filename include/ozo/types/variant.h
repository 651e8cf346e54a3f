// ozo::types::variant_t: the framework's tagged value (storage values, event fields).
#pragma once

#include <cstdint>
#include <utility>

#include "ozo/types/basic_string.h"
#include "ozo/types/blob.h"

namespace ozo::types {

// Tags of the kinds a variant holds. DateTime (12) and String8 (14) are fixed
// by the event consumers; the others are this framework's choice.
enum class VariantTag : std::uint32_t {
  Empty = 0,
  Bool = 1,
  Int32 = 3,
  UInt32 = 4,
  Int64 = 5,
  UInt64 = 6,
  Blob = 9,
  DateTime = 12,  // unsigned 64-bit count of 100-ns intervals since 1601-01-01
  String8 = 14,   // narrow text
  String16 = 15,  // UTF-16 text
};

// Holds one value of the kind its tag names. Scalars share one 64-bit slot;
// text and bytes have their own members, empty unless the tag selects them.
class variant_t {
 public:
  variant_t() noexcept = default;

  static variant_t FromInt32(std::int32_t v) { return Scalar(VariantTag::Int32, static_cast<std::uint64_t>(v)); }
  static variant_t FromUInt32(std::uint32_t v) { return Scalar(VariantTag::UInt32, v); }
  static variant_t FromInt64(std::int64_t v) { return Scalar(VariantTag::Int64, static_cast<std::uint64_t>(v)); }
  static variant_t FromUInt64(std::uint64_t v) { return Scalar(VariantTag::UInt64, v); }
  static variant_t FromBool(bool v) { return Scalar(VariantTag::Bool, v ? 1 : 0); }
  static variant_t FromDateTime(std::uint64_t intervalsSince1601) {
    return Scalar(VariantTag::DateTime, intervalsSince1601);
  }
  static variant_t FromString8(string8_t text) {
    variant_t v;
    v.m_tag = VariantTag::String8;
    v.m_text = std::move(text);
    return v;
  }
  static variant_t FromString16(string16_t text) {
    variant_t v;
    v.m_tag = VariantTag::String16;
    v.m_wideText = std::move(text);
    return v;
  }
  static variant_t FromBlob(blob_t bytes) {
    variant_t v;
    v.m_tag = VariantTag::Blob;
    v.m_blob = std::move(bytes);
    return v;
  }

  VariantTag tag() const noexcept { return m_tag; }
  bool empty() const noexcept { return m_tag == VariantTag::Empty; }
  // The raw 64-bit slot of the scalar kinds (booleans, integers, date-time).
  std::uint64_t scalar() const noexcept { return m_scalar; }
  std::int32_t int32() const noexcept { return static_cast<std::int32_t>(m_scalar); }
  std::uint32_t uint32() const noexcept { return static_cast<std::uint32_t>(m_scalar); }
  std::int64_t int64() const noexcept { return static_cast<std::int64_t>(m_scalar); }
  std::uint64_t uint64() const noexcept { return m_scalar; }
  std::uint64_t datetime() const noexcept { return m_scalar; }
  const string8_t& string8() const noexcept { return m_text; }
  const string16_t& string16() const noexcept { return m_wideText; }
  const blob_t& blob() const noexcept { return m_blob; }

  void clear() noexcept { *this = variant_t(); }
  // Overwrites the text this value holds with zeros, then empties it: for
  // values that may carry secrets.
  void secure_clear() noexcept {
    m_text.secure_clear();
    m_wideText.secure_clear();
    m_tag = VariantTag::Empty;
  }

  friend bool operator==(const variant_t& a, const variant_t& b) noexcept {
    return a.m_tag == b.m_tag && a.m_scalar == b.m_scalar && a.m_text == b.m_text && a.m_wideText == b.m_wideText &&
           a.m_blob == b.m_blob;
  }
  friend bool operator!=(const variant_t& a, const variant_t& b) noexcept { return !(a == b); }

 private:
  static variant_t Scalar(VariantTag tag, std::uint64_t value) noexcept {
    variant_t v;
    v.m_tag = tag;
    v.m_scalar = value;
    return v;
  }

  VariantTag m_tag = VariantTag::Empty;
  std::uint64_t m_scalar = 0;
  string8_t m_text;
  string16_t m_wideText;
  blob_t m_blob;
};

}  // namespace ozo::types
