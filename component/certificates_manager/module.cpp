// The module's two exported functions and its class factory.
#include "ozo/module.h"

#include "app_core/facade/upgrade/persistent_data_upgrader.h"
#include "certificates_manager/certificates_manager.h"
#include "certificates_manager/certificates_manager_upgrader.h"
#include "ozo/error_handling/result_from_exception.h"
#include "ozo/object/module_count.h"
#include "ozo/object/object_impl.h"

#define OZO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using ozo::IObject;
using ozo::IServiceLocator;

// Builds the object of one class with one reference; throws on failure.
using CreateFn = IObject* (*)(IServiceLocator* locator);

template <class T>
IObject* Create(IServiceLocator* locator) {
  return ozo::detail::ObjectImpl<T>::Create(locator);
}

struct FactoryEntry {
  ozo::clsid_t classId;
  CreateFn create;  // null: a reserved id that never creates an object
};

// The creatable classes. 0xBAD1BAD1 is reserved: it is recognised, creates
// nothing and is answered "Class not found" like an unknown id.
constexpr FactoryEntry kFactory[] = {
    {ivo::ClsIdCertificatesManager, &Create<ivo::CertificatesManager>},
    {app_core::facade::upgrade::ClsIdCertificatesManagerPersistentDataUpgrader,
     &Create<ivo::CertificatesManagerPersistentDataUpgrader>},
    {0xBAD1BAD1, nullptr},
};

CreateFn FindClass(ozo::clsid_t classId) noexcept {
  for (const FactoryEntry& entry : kFactory)
    if (entry.classId == classId) return entry.create;
  return nullptr;
}

}  // namespace

OZO_EXPORT ozo::result_t ozoCreateObject(ozo::clsid_t classId, IServiceLocator** locatorAddress, IObject** object) {
  const CreateFn create = FindClass(classId);
  if (!create) return ozo::results::ClassNotFound;
  if (!locatorAddress || !*locatorAddress || !object) return ozo::results::InvalidArgument;
  IServiceLocator* locator = *locatorAddress;
  try {
    *object = create(locator);
    return ozo::results::NoError;
  } catch (...) {
    ozo::ref_ptr<ozo::ITracer> tracer;
    (void)ozo::GetInterface(locator, tracer);
    return ozo::ResultFromCurrentException(tracer.get(), nullptr);
  }
}

OZO_EXPORT ozo::result_t ozoCanUnloadModule() {
  return ozo::detail::ModuleObjectCount().load() == 0 ? ozo::results::NoError : ozo::results::False;
}
