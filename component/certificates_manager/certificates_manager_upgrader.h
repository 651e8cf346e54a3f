// Copies the certificates manager's stored tree from a previous product
// version's store into the new one.
#pragma once

#include "app_core/facade/upgrade/persistent_data_upgrader.h"
#include "ozo/object/object_impl.h"
#include "ozo/ref_ptr.h"
#include "ozo/services.h"

namespace ivo {

class CertificatesManagerPersistentDataUpgrader
    : public ozo::object::Ifaces<app_core::facade::upgrade::IPersistentDataUpgrader>,
      ozo::object::NonCopyable {
 public:
  // Throws when the host has no tracer.
  explicit CertificatesManagerPersistentDataUpgrader(ozo::IServiceLocator* locator);

  // Copies the tree kept under the certificates manager's class id in
  // `oldStore` into the one of `newStore`, adding to what it holds (nothing
  // is removed or rolled back). 0 after the copy; 1 ("False") when the old
  // store keeps no such tree (the new store is not touched); the failing code
  // otherwise, with its record. Never throws. Takes no lock: exclusion
  // against other users of the stores is the host's.
  ozo::result_t Upgrade(ozo::IPersistentStorage* oldStore, ozo::IPersistentStorage* newStore) override;

 protected:
  ~CertificatesManagerPersistentDataUpgrader();

 private:
  ozo::ref_ptr<ozo::IServiceLocator> m_locator;
  ozo::ref_ptr<ozo::ITracer> m_tracer;
};

}  // namespace ivo
