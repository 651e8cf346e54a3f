// The command an administrator has run after each renewal, and what it is
// given: the hook contract.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "ozo/result.h"

namespace host::lifecycle {

using HookVariables = std::vector<std::pair<std::string, std::string>>;

// How long a hook may run unless the caller says otherwise.
constexpr double kDefaultHookSeconds = 600;

// One run of a hook: the command, what its environment holds besides PATH,
// HOME, LANG and TZ (the renewal's facts; nothing else of the caller's
// environment, where a password may be, reaches it), the new chain in PEM,
// and how long it may take.
struct HookRun {
  std::string command;
  HookVariables variables;
  std::string chainPem;  // written to a file named by CERTCTL_CHAIN_FILE; empty: none
  double timeoutSeconds = kDefaultHookSeconds;
};

// Runs `run.command` with /bin/sh in a process group of its own, standard
// input from /dev/null and both of its outputs to the caller's standard
// error (a caller's own output, JSON say, stays its own). The chain goes to
// a fresh owner-only file in $TMPDIR (else /tmp), removed when the hook
// ends; the key never goes anywhere. A hook still running when its time is
// up is killed with its whole process group. Fails ("Unspecified error")
// unless it exited 0, with `failure` saying how ("exited 3", "was killed by
// signal 9", "was stopped after 600 s, its time"); "Media error" when the
// chain file cannot be written.
ozo::result_t RunHook(const HookRun& run, std::string& failure);

}  // namespace host::lifecycle
