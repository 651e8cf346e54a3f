// Where certctl's store is, and the folder it is made in.
#pragma once

#include <string>

namespace certctl {

// The store a command works on: --store, else $CERTCTL_STORE, else the
// default store.
struct StoreLocation {
  std::string path;
  bool isDefault = false;  // a default folder may be made for it
};

// What the environment says about the default store.
struct StoreEnvironment {
  bool root = false;             // effective user id 0
  const char* xdgDataHome = "";  // $XDG_DATA_HOME (used when absolute)
  const char* home = "";         // $HOME
};

// The default store: for root the system store (CM_SYSTEM_STORE, the store
// the metrics service reads), whatever HOME says; for any other user
// $XDG_DATA_HOME/certctl/certificates.db, else
// ~/.local/share/certctl/certificates.db. Throws Failure (kExitUsage) when
// neither is set for a user other than root.
std::string DefaultStorePath(const StoreEnvironment& environment);

// The store of `option` (--store) in this process's environment.
StoreLocation LocateStore(const std::string& option);

// Makes the missing folders of a default store's path, each owner-only
// (0700). Any other store's folder must exist. Throws Failure (kExitStore).
void MakeDefaultFolder(const StoreLocation& location);

}  // namespace certctl
