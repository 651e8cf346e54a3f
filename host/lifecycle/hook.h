// The command an administrator has run after each renewal.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "ozo/result.h"

namespace host::lifecycle {

// Runs `command` with /bin/sh, standard input from /dev/null and the caller's
// output, in an environment of `variables` and only PATH, HOME, LANG and
// TZ besides: nothing of the caller's own environment (where a password may
// be) reaches it. Fails ("Unspecified error") unless it exited 0, with
// `failure` saying how ("exited 3", "was killed by signal 9").
using HookVariables = std::vector<std::pair<std::string, std::string>>;
ozo::result_t RunHook(const std::string& command, const HookVariables& variables, std::string& failure);

}  // namespace host::lifecycle
