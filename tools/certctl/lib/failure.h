// How the tool fails: one line on stderr and an exit status.
#pragma once

#include <stdexcept>
#include <string>

#include "host/status.h"
#include "ozo/result.h"

namespace certctl {

// Exit statuses: the operation's "No error" and "False", then failures.
constexpr int kExitOk = 0;
constexpr int kExitFalse = 1;   // nothing to do
constexpr int kExitFailed = 2;  // the component refused or failed
constexpr int kExitUsage = 3;   // bad command line or input file
constexpr int kExitStore = 4;   // the store or the library cannot be used

class Failure : public std::runtime_error {
 public:
  Failure(int exitCode, const std::string& message, ozo::result_t result = 0)
      : std::runtime_error(message), exitCode(exitCode), result(result) {}
  int exitCode;
  ozo::result_t result;
};

// Writes "certctl: MESSAGE" on stderr, made safe for a terminal (see
// Printable): a failure's words may come from a CA, a peer or a file.
void PrintFailure(const std::string& message);

}  // namespace certctl
