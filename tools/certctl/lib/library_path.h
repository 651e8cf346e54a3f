// Which certificates manager module certctl loads.
#pragma once

#include <string>

namespace certctl {

// --library (a relative path is taken from the current folder, not searched
// for), else $CERTCTL_LIBRARY, else the module installed with the tool, else
// the one built beside it (both found relative to the tool's own folder, so
// no path of the build is compiled in).
std::string LibraryPath(const std::string& option);

}  // namespace certctl
