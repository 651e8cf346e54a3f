// Keeping a process's secrets out of core dumps.
#pragma once

#include <string>

#include "ozo/result.h"

namespace host {

// Makes this process leave no core dump and refuse other processes of its
// user a look into its memory (a debugger attaching, /proc/PID/mem): the
// core size limit becomes 0, and the process is no longer dumpable. A host
// that holds client certificates' passwords or keys calls it once, before it
// reads any secret: a crash, an abort or a signal then writes none of them
// to disk. Fails ("Unspecified platform error") with `error` set when
// either could not be done.
ozo::result_t KeepSecretsOutOfCoreDumps(std::string& error);

}  // namespace host
