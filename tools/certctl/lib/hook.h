// The command an administrator has certctl run after a renewal.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace certctl {

// Runs `command` with /bin/sh, standard input from /dev/null and certctl's
// output, in an environment of `variables` and only PATH, HOME, LANG and
// TZ besides: nothing of certctl's own environment (where a password may
// be) reaches it. Returns why it failed ("exited 3", "was killed by signal
// 9"), or empty when it exited 0.
std::string RunHook(const std::string& command, const std::vector<std::pair<std::string, std::string>>& variables);

}  // namespace certctl
