// Structure descriptors from the host, and typed views of structure values.
#pragma once

#include <cstdint>

#include "ozo/any_struct.h"
#include "ozo/error_handling/exception.h"
#include "ozo/services.h"

namespace ozo {

inline constexpr const char* kAnyPtrHelpersFile = "component/ozo/util/rtl_impl/anyptr_helpers";
inline constexpr std::string_view kTypeIdProperty = "ozo.typeid";

// The descriptor of structure `typeId`: from the primary meta-information
// provider when it knows it, else from the secondary one. Throws
// ozo::exception "No meta info provider" (line 61) without a secondary
// provider, "This structure is not registered at meta info provider" (line
// 63, with ozo.result and ozo.typeid) when the secondary does not know it.
const StructDescriptor* GetStructDescriptor(IServiceLocator* locator, std::uint32_t typeId);

// Throws ozo::exception "Containted serializable doesn`t match the requested
// one" (line 102) with ozo.typeid = the value's type id (0 without descriptor).
[[noreturn]] void ThrowStructMismatch(const any_struct_t& value);

// The value's object as T when it holds a T (null when it holds no object);
// throws ThrowStructMismatch's exception when it holds another structure.
template <class T>
T* StructCast(const any_struct_t& value) {
  if (!value.descriptor() || value.descriptor()->typeId != T::TypeId) ThrowStructMismatch(value);
  return static_cast<T*>(value.object());
}

}  // namespace ozo
