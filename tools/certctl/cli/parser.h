// certctl's command line, read strictly (CLI11) from the rows of the commands.
#pragma once

#include <string>

#include "tools/certctl/cli/command.h"

namespace certctl {

// What the command line asks for.
struct ParsedCommandLine {
  const Command* command = nullptr;  // null when no command was named
  GlobalOptions global;
  GivenValues given;  // the command's operands and options, as texts
  std::string text;   // a help or the version, printed with exit status 0
  // Why the line cannot be run (bad usage), followed by the usage lines of
  // the commands it names; empty when it can.
  std::string usageError;
};

// The word that asks for help ("certctl help renew").
constexpr const char* kHelpCommand = "help";

// Reads the command line. Options take "--name value" and "--name=value",
// short forms where a row gives them ("-o FILE", "-oFILE"); global options
// stand before or after the command. Anything not in the rows is refused in
// words: an unknown command or option (with the nearest known name, when one
// is near), an operand too many or missing, a value missing.
ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

// "usage: certctl set-server TYPE FILE [--policy]"
std::string UsageLine(const Command& command);
// The help of one command, of a group of commands ("policy"), or of certctl
// itself (empty path).
std::string Help(const std::string& path);

}  // namespace certctl
