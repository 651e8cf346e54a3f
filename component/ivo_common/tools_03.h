// Structure values made from plain records, for the host serializer.
#pragma once

#include <new>

#include "ozo/any_struct.h"
#include "ozo/error_handling/exception.h"
#include "ozo/ref_ptr.h"
#include "ozo/services.h"
#include "ozo/util/anyptr_helpers.h"

namespace tools {

// A value owning a copy of `structure`, made through the host's allocator and
// T's descriptor (T::TypeId). Throws CheckResultFailedException (line 28)
// without an allocator, the descriptor lookup's exceptions, and
// std::bad_alloc when the copy cannot be made.
template <class T>
ozo::any_struct_t MakeAnyStruct(ozo::IServiceLocator* locator, const T& structure) {
  ozo::ref_ptr<ozo::IAllocator> allocator;
  const ozo::result_t result = ozo::GetInterface(locator, allocator);
  if (ozo::Failed(result)) ozo::ThrowCheckFailed("ivo_common/export/ivo_common/tools_03", 28, result);
  const ozo::StructDescriptor* descriptor = ozo::GetStructDescriptor(locator, T::TypeId);
  void* object = descriptor->operations->create(allocator.get(), &structure);
  if (!object) throw std::bad_alloc();
  return ozo::any_struct_t(object, descriptor, allocator.get());
}

}  // namespace tools
