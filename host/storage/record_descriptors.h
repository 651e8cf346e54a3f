// Descriptors of the records the certificates manager stores and publishes.
#pragma once

#include <cstddef>
#include <new>

#include "ozo/any_struct.h"

namespace host {

// The construction operations of T for a descriptor.
template <class T>
const ozo::StructOperations* OperationsOf() {
  static const ozo::StructOperations operations{
      [](void* place, const void* source) {
        if (source)
          new (place) T(*static_cast<const T*>(source));
        else
          new (place) T();
      },
      [](ozo::IAllocator* allocator, const void* source) -> void* {
        void* object = allocator->Allocate(sizeof(T));
        if (!object) return nullptr;
        try {
          new (object) T(*static_cast<const T*>(source));
        } catch (...) {
          allocator->Free(object);
          return nullptr;
        }
        return object;
      },
      [](void* object) { static_cast<T*>(object)->~T(); },
      [](void* to, const void* from) { *static_cast<T*>(to) = *static_cast<const T*>(from); },
      [](void* to, void* from) { *static_cast<T*>(to) = std::move(*static_cast<T*>(from)); },
  };
  return &operations;
}

const ozo::StructDescriptor* ServerCertificateDescriptor();
const ozo::StructDescriptor* ClientCertificateDescriptor();
const ozo::StructDescriptor* RuntimeFieldDescriptor();
const ozo::StructDescriptor* AdditionalFieldDescriptor();

}  // namespace host
