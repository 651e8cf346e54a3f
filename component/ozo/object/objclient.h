// Acquisition of host services that an object cannot work without.
#pragma once

#include <cstdint>

#include "ozo/error_handling/exception.h"
#include "ozo/ref_ptr.h"
#include "ozo/services.h"

namespace ozo {

inline constexpr const char* kObjClientFile = "ozo/rtl/error_handling/../objclient";
inline constexpr std::int32_t kObjClientLine = 103;

// Service `I` (key 0) from `locator`; throws GetInterfaceException ("Can't get
// interface", with ozo.iid, ozo.serviceKey and ozo.result) when the locator
// fails.
template <class I>
ref_ptr<I> GetInterfaceOrThrow(IServiceLocator* locator) {
  ref_ptr<I> service;
  const result_t result = GetInterface(locator, service);
  if (Failed(result) || !service)
    throw GetInterfaceException(kObjClientFile, kObjClientLine, "Can't get interface", I::IID, 0,
                                Failed(result) ? result : results::NotFound);
  return service;
}

}  // namespace ozo
