// The host's structure serializer: one stored value per field, plus the
// structure's type id, so a node identifies the structure it holds.
#pragma once

#include <memory>

#include "host/host_object.h"
#include "host/storage/meta_info.h"
#include "ozo/storage.h"

namespace host {

// Encoding inside a node: the value "$type" (UInt32, the structure type id)
// and one value per field, named as the field, of the variant kind that
// matches the field kind. Deserialize answers:
// - an empty node (no "$type"): "Not found" (0x8000004C);
// - a type id the registry does not know: "Meta information not found";
// - a known type with a field missing (a write that was cut short): success
//   with the type's descriptor and no object, i.e. a structure node that
//   holds no object;
// - a field stored with another kind: "Invalid type".
// Objects are made through the allocator.
class Serializer : public HostObject<ozo::IStorageSerializer2> {
 public:
  static constexpr const char* kTypeValue = "$type";

  Serializer(std::shared_ptr<DescriptorRegistry> registry, ozo::ref_ptr<ozo::IAllocator> allocator)
      : m_registry(std::move(registry)), m_allocator(std::move(allocator)) {}

  ozo::result_t Serialize(ozo::any_descr_ptr_t* value, ozo::IStorage* node, std::uint32_t flags,
                          void* reserved) override;
  ozo::result_t Deserialize(ozo::any_struct_t* value, ozo::IStorage* node, std::uint32_t flags,
                            void* reserved) override;

 protected:
  ~Serializer() override = default;

 private:
  std::shared_ptr<DescriptorRegistry> m_registry;
  ozo::ref_ptr<ozo::IAllocator> m_allocator;
};

}  // namespace host
