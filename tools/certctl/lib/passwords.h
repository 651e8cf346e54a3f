// Passwords of PKCS#12 containers, as certctl reads them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "host/secret.h"

namespace certctl {

using host::Secret;

// The longest password certctl reads: a bound keeps a wrong path from being
// read whole.
constexpr std::size_t kMaxPasswordBytes = 4096;

// Where a password comes from: a file (its first line; "-": standard input),
// an environment variable, or, when neither is given, a prompt on the
// terminal without echo (restored also when a signal ends the process).
// Never from the command line itself.
struct PasswordSource {
  std::string file;
  std::string environment;
};

// The help texts of the options that name a container's password.
constexpr const char* kPasswordFileHelp = "the container's password: FILE's first line (- for stdin)";
constexpr const char* kPasswordEnvHelp = "the container's password: the variable's value";

// The source those options name for the container read from `container`.
// Throws Failure (usage) when both are given, or when standard input would
// hold both the container and its password.
PasswordSource PasswordFrom(const std::string& file, const std::string& environment, const std::string& container);

// Reads the password; refused (Failure, usage) when it cannot be read or is
// longer than kMaxPasswordBytes.
Secret ReadPassword(const PasswordSource& source, const char* prompt);

}  // namespace certctl
