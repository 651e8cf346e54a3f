// certctl's command line, read strictly (CLI11) from the table of commands.
#pragma once

#include <string>

#include "tools/certctl/commands.h"

namespace certctl {

// What the command line asks for: a command to run, or a text to print.
struct ParsedCommandLine {
  Invocation invocation;  // its command is empty when only a text is asked for
  std::string text;       // the help or the version, printed with exit status 0
};

// Reads the command line. Options take "--name value" and "--name=value",
// short forms where the table gives them ("-o FILE", "-oFILE"); global
// options stand before or after the command. Throws Failure (kExitUsage)
// for anything not in the table: an unknown command or option, an operand
// too many or missing, a value missing; its message ends with the command's
// usage line.
ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

}  // namespace certctl
