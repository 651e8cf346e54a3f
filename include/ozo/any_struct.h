// Type-erased structure values exchanged with the host's serializer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "ozo/allocator.h"

namespace ozo {

// How the serializer reads and writes one field of a structure. The kinds
// and their encoding belong to the host; the component only hands
// descriptors through.
enum class FieldKind : std::uint32_t {
  UInt32 = 1,
  UInt64 = 2,
  Int64 = 3,
  Blob = 10,      // ozo::types::blob_t
  String8 = 11,   // ozo::string8_t
  String16 = 12,  // ozo::string16_t
  Variant = 13,   // ozo::types::variant_t
};

struct FieldDescriptor {
  const char* name;
  FieldKind kind;
  std::size_t offset;
};

// Construction operations of one structure type.
struct StructOperations {
  // Constructs in place: a copy of `source`, or the default when it is null.
  void (*construct)(void* place, const void* source);
  // Allocates the size through `allocator` and copy-constructs from
  // `source`; null when allocation fails.
  void* (*create)(IAllocator* allocator, const void* source);
  void (*destroy)(void* object);
  void (*copyAssign)(void* to, const void* from);
  void (*move)(void* to, void* from);
};

// Describes one serialisable structure; owned by a meta-information provider
// and never released.
struct StructDescriptor {
  std::uint32_t typeId;
  const char* name;
  std::size_t size;
  const FieldDescriptor* fields;
  std::uint32_t fieldsCount;
  const StructOperations* operations;
};

// A non-owning view of a structure handed to Serialize. `holder` may be
// filled by the serializer; the caller releases it after the call.
struct any_descr_ptr_t {
  void* object = nullptr;
  const StructDescriptor* descriptor = nullptr;
  IObject* holder = nullptr;
};

// An owned, type-erased structure value. When it holds an object and an
// allocator it owns the object: destruction destroys it in place (if there is
// a descriptor), frees it through the allocator and releases the allocator.
// A value with an object but no allocator owns nothing.
class any_struct_t {
 public:
  any_struct_t() noexcept = default;
  // Adopts `object`; takes a reference on `allocator` when given.
  any_struct_t(void* object, const StructDescriptor* descriptor, IAllocator* allocator) noexcept
      : m_object(object), m_descriptor(descriptor), m_allocator(allocator) {
    if (m_allocator) m_allocator->AddRef();
  }
  any_struct_t(const any_struct_t&) = delete;
  any_struct_t& operator=(const any_struct_t&) = delete;
  any_struct_t(any_struct_t&& other) noexcept { swap(other); }
  any_struct_t& operator=(any_struct_t&& other) noexcept {
    any_struct_t(std::move(other)).swap(*this);
    return *this;
  }
  ~any_struct_t() {
    reset();
    if (m_allocator) m_allocator->Release();
  }
  void swap(any_struct_t& other) noexcept {
    std::swap(m_object, other.m_object);
    std::swap(m_descriptor, other.m_descriptor);
    std::swap(m_allocator, other.m_allocator);
  }

  bool IsValid() const noexcept { return m_object != nullptr; }
  void* object() const noexcept { return m_object; }
  const StructDescriptor* descriptor() const noexcept { return m_descriptor; }
  IAllocator* allocator() const noexcept { return m_allocator; }

  // Empties the value and returns it for an out-parameter that fills object,
  // descriptor and allocator (the allocator with a reference of its own).
  any_struct_t* Ref() noexcept {
    any_struct_t().swap(*this);
    return this;
  }
  // Fills all three fields; used by whoever answers through Ref().
  void Assign(void* object, const StructDescriptor* descriptor, IAllocator* allocator) noexcept {
    any_struct_t(object, descriptor, allocator).swap(*this);
  }
  any_descr_ptr_t ToAnyDescrPtr() const noexcept { return {m_object, m_descriptor, nullptr}; }

  // Destroys and frees the owned object, keeping the allocator.
  void reset() noexcept {
    if (m_object && m_allocator) {
      if (m_descriptor) m_descriptor->operations->destroy(m_object);
      m_allocator->Free(m_object);
    }
    m_object = nullptr;
  }

 private:
  void* m_object = nullptr;
  const StructDescriptor* m_descriptor = nullptr;
  IAllocator* m_allocator = nullptr;  // counted reference
};

}  // namespace ozo
