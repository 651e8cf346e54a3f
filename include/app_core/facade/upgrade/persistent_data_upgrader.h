// The upgrade hook a component offers for copying its stored data from a
// previous product version's store into the new one.
#pragma once

#include "ozo/ref_ptr.h"
#include "ozo/storage.h"

namespace app_core::facade::upgrade {

// Class id of the certificates manager's upgrader.
constexpr ozo::clsid_t ClsIdCertificatesManagerPersistentDataUpgrader = 0x88493745;

struct IPersistentDataUpgrader : ozo::IObject {
  static constexpr ozo::iid_t IID = 0x2D08D87C;

  // Called before any Upgrade; the default does nothing.
  virtual void PrepareUpgrade() {}
  // An object the upgrader wants kept alive during the upgrade; none by default.
  virtual ozo::ref_ptr<ozo::IObject> GetUpgradeContext() { return {}; }
  // Copies this component's data from `oldStore` into `newStore`: 0 after a
  // copy, 1 ("False") when the old store has nothing, a failure otherwise.
  virtual ozo::result_t Upgrade(ozo::IPersistentStorage* oldStore, ozo::IPersistentStorage* newStore) {
    (void)oldStore;
    (void)newStore;
    return ozo::results::NotImplemented;
  }

 protected:
  ~IPersistentDataUpgrader() = default;
};

}  // namespace app_core::facade::upgrade
