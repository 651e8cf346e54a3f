// The host's hierarchical storage: nodes, stores, serializer, meta information.
#pragma once

#include <cstdint>

#include "ozo/any_struct.h"
#include "ozo/object.h"
#include "ozo/types/basic_string.h"
#include "ozo/types/variant.h"

namespace ozo {

// Formats stored values; passed through, never implemented by the component.
struct IStoredValueFormatter : IObject {
  static constexpr iid_t IID = 0x3B1F7C22;

 protected:
  ~IStoredValueFormatter() = default;
};

// One node of a storage tree: named child nodes and named values.
//
// Contract relied on by every user:
// - a missing child is reported by GetNode and RemoveNode as "Path not found"
//   (0x80010103), "File not found" (0x80010102) or "Not found" (0x8000004C);
// - the name operations follow the two-call protocol: with a null buffer they
//   report the needed size, terminator included, with "Buffer too small"
//   (0x80000044) or a success; with a buffer of that size they write the name
//   and report its length;
// - Flush persists the node.
struct IStorage : IObject {
  static constexpr iid_t IID = 0xFCBEDE64;

  // Adds a child named `name`; `*node` receives it.
  virtual result_t AppendNode(cstr8_t name, IStorage** node) = 0;
  virtual result_t RemoveNode(cstr8_t name) = 0;
  virtual result_t GetNode(cstr8_t name, IStorage** node) = 0;
  // This node's own name.
  virtual result_t GetName(str8_t buffer, std::uint32_t& size) = 0;
  virtual result_t GetNodesCount(std::uint32_t& count) = 0;
  virtual result_t GetNodeName(std::uint32_t index, str8_t buffer, std::uint32_t& size) = 0;
  virtual result_t GetNode(std::uint32_t index, IStorage** node) = 0;
  virtual result_t GetValuesCount(std::uint32_t& count) = 0;
  virtual result_t GetValueName(std::uint32_t index, str8_t buffer, std::uint32_t& size) = 0;
  virtual result_t SetValue(cstr8_t name, const types::variant_t& value, IStoredValueFormatter* formatter) = 0;
  virtual result_t GetValue(cstr8_t name, types::variant_t& value, IStoredValueFormatter* formatter) = 0;
  virtual result_t GetValue(std::uint32_t index, types::variant_t& value, IStoredValueFormatter* formatter) = 0;
  virtual result_t Flush() = 0;

 protected:
  ~IStorage() = default;
};

// Service id under which the locator hands out the component's own storage
// tree (an IStorage, the root of what the store keeps for the component).
// Messages call it "ozo::IPersistentStorage".
constexpr iid_t kStorageRootServiceId = 0x0EECD30A;

// A whole store: one storage tree per class id.
struct IPersistentStorage : IObject {
  static constexpr iid_t IID = 0x5E7A11C4;

  virtual result_t GetStoragesCount(std::uint32_t& count) = 0;
  virtual result_t GetStorageClassId(std::uint32_t index, clsid_t& classId) = 0;
  // Returns the tree of `classId`, creating it when missing.
  virtual result_t CreateStorage(clsid_t classId, IStorage** storage) = 0;
  virtual result_t RemoveStorage(clsid_t classId) = 0;
  virtual result_t Flush() = 0;
  virtual result_t GetPath(string8_t& path) = 0;
  // The tree of `classId`; "Not found" (0x8000004C) when the store keeps none.
  virtual result_t GetStorage(clsid_t classId, IStorage** storage) = 0;

 protected:
  ~IPersistentStorage() = default;
};

// Writes whole structures into nodes and reads them back.
struct IStorageSerializer2 : IObject {
  static constexpr iid_t IID = 0x7CC64BFF;

  // Writes the structure into the empty `node`.
  virtual result_t Serialize(any_descr_ptr_t* value, IStorage* node, std::uint32_t flags, void* reserved) = 0;
  // Rebuilds the structure stored in `node` into `*value` (object, its own
  // descriptor and the allocator that owns it).
  virtual result_t Deserialize(any_struct_t* value, IStorage* node, std::uint32_t flags, void* reserved) = 0;

 protected:
  ~IStorageSerializer2() = default;
};

// Primary source of structure descriptors.
struct IMetaInfoProvider : IObject {
  static constexpr iid_t IID = 0xFE7DA4E6;

  virtual result_t GetStructDescriptor(std::uint32_t typeId, const StructDescriptor** descriptor) = 0;

 protected:
  ~IMetaInfoProvider() = default;
};

// Secondary source of structure descriptors.
struct IMetaInfoProvider2 : IObject {
  static constexpr iid_t IID = 0xA53230CB;

  virtual result_t GetStructDescriptorsCount(std::uint32_t& count) = 0;
  virtual result_t FindStructDescriptor(std::uint32_t typeId, const StructDescriptor** descriptor) = 0;

 protected:
  ~IMetaInfoProvider2() = default;
};

}  // namespace ozo
