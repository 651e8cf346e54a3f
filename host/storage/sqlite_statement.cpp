#include "host/storage/sqlite_statement.h"

namespace host::sqlite {

using ozo::types::variant_t;
using ozo::types::VariantTag;

void BindVariant(Statement& statement, int first, const variant_t& value) {
  statement.Bind(first, static_cast<std::int64_t>(value.tag()))
      .Bind(first + 1, static_cast<std::int64_t>(value.scalar()));
  switch (value.tag()) {
    case VariantTag::String8:
      statement.BindBlob(first + 2, value.string8().data(), value.string8().size());
      break;
    case VariantTag::String16:
      statement.BindBlob(first + 2, value.string16().data(), value.string16().size() * sizeof(char16_t));
      break;
    case VariantTag::Blob:
      statement.BindBlob(first + 2, value.blob().data(), value.blob().size());
      break;
    default:
      statement.BindNull(first + 2);
  }
}

variant_t ReadVariant(const Statement& statement, int first) {
  const auto tag = static_cast<VariantTag>(statement.Int(first));
  const auto scalar = static_cast<std::uint64_t>(statement.Int(first + 1));
  const auto* data = static_cast<const char*>(statement.Blob(first + 2));
  const std::size_t bytes = statement.Bytes(first + 2);
  switch (tag) {
    case VariantTag::String8:
      return variant_t::FromString8(ozo::string8_t(data ? data : "", bytes));
    case VariantTag::String16:
      return variant_t::FromString16(
          ozo::string16_t(reinterpret_cast<const char16_t*>(data ? data : ""), bytes / sizeof(char16_t)));
    case VariantTag::Blob:
      return variant_t::FromBlob(ozo::blob_t(data, bytes));
    case VariantTag::Bool:
      return variant_t::FromBool(scalar != 0);
    case VariantTag::Int32:
      return variant_t::FromInt32(static_cast<std::int32_t>(scalar));
    case VariantTag::UInt32:
      return variant_t::FromUInt32(static_cast<std::uint32_t>(scalar));
    case VariantTag::Int64:
      return variant_t::FromInt64(static_cast<std::int64_t>(scalar));
    case VariantTag::UInt64:
      return variant_t::FromUInt64(scalar);
    case VariantTag::DateTime:
      return variant_t::FromDateTime(scalar);
    case VariantTag::Empty:
      break;
  }
  return {};
}

}  // namespace host::sqlite
