#include "host/storage/serializer.h"

#include "ozo/types/basic_string.h"
#include "ozo/types/blob.h"
#include "ozo/types/variant.h"

namespace host {
namespace {

using ozo::FieldKind;
using ozo::types::variant_t;
using ozo::types::VariantTag;

template <class T>
T& FieldOf(void* object, const ozo::FieldDescriptor& field) {
  return *reinterpret_cast<T*>(static_cast<char*>(object) + field.offset);
}

variant_t Encode(void* object, const ozo::FieldDescriptor& field) {
  switch (field.kind) {
    case FieldKind::UInt32:
      return variant_t::FromUInt32(FieldOf<std::uint32_t>(object, field));
    case FieldKind::UInt64:
      return variant_t::FromUInt64(FieldOf<std::uint64_t>(object, field));
    case FieldKind::Int64:
      return variant_t::FromInt64(FieldOf<std::int64_t>(object, field));
    case FieldKind::Blob:
      return variant_t::FromBlob(FieldOf<ozo::blob_t>(object, field));
    case FieldKind::String8:
      return variant_t::FromString8(FieldOf<ozo::string8_t>(object, field));
    case FieldKind::String16:
      return variant_t::FromString16(FieldOf<ozo::string16_t>(object, field));
    case FieldKind::Variant:
      return FieldOf<variant_t>(object, field);
  }
  return {};
}

// Writes `value` into the field; false when its kind does not fit.
bool Decode(const variant_t& value, void* object, const ozo::FieldDescriptor& field) {
  switch (field.kind) {
    case FieldKind::UInt32:
      if (value.tag() != VariantTag::UInt32) return false;
      FieldOf<std::uint32_t>(object, field) = value.uint32();
      return true;
    case FieldKind::UInt64:
      if (value.tag() != VariantTag::UInt64) return false;
      FieldOf<std::uint64_t>(object, field) = value.uint64();
      return true;
    case FieldKind::Int64:
      if (value.tag() != VariantTag::Int64) return false;
      FieldOf<std::int64_t>(object, field) = value.int64();
      return true;
    case FieldKind::Blob:
      if (value.tag() != VariantTag::Blob) return false;
      FieldOf<ozo::blob_t>(object, field) = value.blob();
      return true;
    case FieldKind::String8:
      if (value.tag() != VariantTag::String8) return false;
      FieldOf<ozo::string8_t>(object, field) = value.string8();
      return true;
    case FieldKind::String16:
      if (value.tag() != VariantTag::String16) return false;
      FieldOf<ozo::string16_t>(object, field) = value.string16();
      return true;
    case FieldKind::Variant:
      FieldOf<variant_t>(object, field) = value;
      return true;
  }
  return false;
}

}  // namespace

ozo::result_t Serializer::Serialize(ozo::any_descr_ptr_t* value, ozo::IStorage* node, std::uint32_t, void*) {
  if (!value || !value->object || !value->descriptor || !node) return ozo::results::InvalidArgument;
  try {
    const ozo::StructDescriptor& descriptor = *value->descriptor;
    ozo::result_t result = node->SetValue(kTypeValue, variant_t::FromUInt32(descriptor.typeId), nullptr);
    for (std::uint32_t i = 0; ozo::Succeeded(result) && i < descriptor.fieldsCount; ++i) {
      variant_t encoded = Encode(value->object, descriptor.fields[i]);
      result = node->SetValue(descriptor.fields[i].name, encoded, nullptr);
      encoded.secure_clear();  // fields may be secrets (passwords)
    }
    return ozo::Failed(result) ? result : ozo::results::NoError;
  } catch (const std::bad_alloc&) {
    return ozo::results::OutOfMemory;
  }
}

ozo::result_t Serializer::Deserialize(ozo::any_struct_t* value, ozo::IStorage* node, std::uint32_t, void*) {
  if (!value || !node) return ozo::results::InvalidArgument;
  variant_t typeId;
  ozo::result_t result = node->GetValue(kTypeValue, typeId, nullptr);
  if (ozo::Failed(result)) return result;  // "Not found" for an empty node
  if (typeId.tag() != VariantTag::UInt32) return ozo::results::InvalidType;
  const ozo::StructDescriptor* descriptor = m_registry->Find(typeId.uint32());
  if (!descriptor) return ozo::results::MetaInformationNotFound;

  void* object = m_allocator->Allocate(descriptor->size);
  if (!object) return ozo::results::OutOfMemory;
  try {
    descriptor->operations->construct(object, nullptr);
  } catch (...) {
    m_allocator->Free(object);
    return ozo::results::OutOfMemory;
  }
  ozo::any_struct_t built(object, descriptor, m_allocator.get());
  try {
    for (std::uint32_t i = 0; i < descriptor->fieldsCount; ++i) {
      variant_t field;
      result = node->GetValue(descriptor->fields[i].name, field, nullptr);
      if (result == ozo::results::NotFound) {  // cut short: the structure holds no object
        value->Assign(nullptr, descriptor, nullptr);
        return ozo::results::NoError;
      }
      if (ozo::Failed(result)) return result;
      const bool decoded = Decode(field, object, descriptor->fields[i]);
      field.secure_clear();
      if (!decoded) return ozo::results::InvalidType;
    }
  } catch (const std::bad_alloc&) {
    return ozo::results::OutOfMemory;
  }
  value->swap(built);
  return ozo::results::NoError;
}

}  // namespace host
