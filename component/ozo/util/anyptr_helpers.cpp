#include "ozo/util/anyptr_helpers.h"

#include "ozo/ref_ptr.h"
#include "ozo/storage.h"

namespace ozo {

const StructDescriptor* GetStructDescriptor(IServiceLocator* locator, std::uint32_t typeId) {
  {
    ref_ptr<IMetaInfoProvider> primary;
    const StructDescriptor* descriptor = nullptr;
    if (Succeeded(GetInterface(locator, primary)) && Succeeded(primary->GetStructDescriptor(typeId, &descriptor)) &&
        descriptor)
      return descriptor;
  }
  ref_ptr<IMetaInfoProvider2> secondary;
  result_t result = GetInterface(locator, secondary);
  if (Failed(result)) {
    exception error(kAnyPtrHelpersFile, 61, "No meta info provider");
    error.SetInt32(property::Result, result);
    throw error;
  }
  const StructDescriptor* descriptor = nullptr;
  result = secondary->FindStructDescriptor(typeId, &descriptor);
  if (Failed(result) || !descriptor) {
    exception error(kAnyPtrHelpersFile, 63, "This structure is not registered at meta info provider");
    error.SetInt32(property::Result, Failed(result) ? result : results::NotFound);
    error.SetUInt32(kTypeIdProperty, typeId);
    throw error;
  }
  return descriptor;
}

void ThrowStructMismatch(const any_struct_t& value) {
  exception error(kAnyPtrHelpersFile, 102, "Containted serializable doesn`t match the requested one");
  error.SetUInt32(kTypeIdProperty, value.descriptor() ? value.descriptor()->typeId : 0);
  throw error;
}

}  // namespace ozo
