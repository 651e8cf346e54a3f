// Who asks for a change, as the component journals it.
#pragma once

#include "ivo/certificate_records.h"

namespace host {

// The user this process runs as, by uid and name: a person's local change.
ivo::ChangeInitiator ProcessUser();

}  // namespace host
