// The command an administrator has run after each renewal.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace host::lifecycle {

// Runs `command` with /bin/sh, standard input from /dev/null and the caller's
// output, in an environment of `variables` and only PATH, HOME, LANG and
// TZ besides: nothing of the caller's own environment (where a password may
// be) reaches it. Returns why it failed ("exited 3", "was killed by signal
// 9"), or empty when it exited 0.
using HookVariables = std::vector<std::pair<std::string, std::string>>;
std::string RunHook(const std::string& command, const HookVariables& variables);

}  // namespace host::lifecycle
