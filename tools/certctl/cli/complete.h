// The shell's completion of certctl's command line, made from the same rows
// the parser reads, so that what completes is what parses.
#pragma once

#include <string>
#include <vector>

namespace certctl {

// The name of the hidden command the completion script runs:
// `certctl __complete WORD...`, the words after "certctl", the last one the
// word being typed (maybe empty).
constexpr const char* kCompleteCommand = "__complete";

// The candidates for the last of `words`, which start with it: command
// words, option names, or a value's words. "@files" and "@variables" ask the
// shell to add its own file or variable names.
std::vector<std::string> Completions(const std::vector<std::string>& words);

}  // namespace certctl
