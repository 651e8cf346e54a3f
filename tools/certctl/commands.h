// The tool's subcommands.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/certctl/session.h"

namespace certctl {

struct Invocation {
  Options options;
  std::string command;
  std::vector<std::string> arguments;         // positional, after the command
  std::map<std::string, std::string> values;  // --name VALUE
  std::set<std::string> switches;             // --name

  const std::string& Argument(std::size_t index, const char* what) const;
  std::string Value(const std::string& name) const;
  bool Has(const std::string& name) const { return switches.count(name) != 0; }
};

// Runs the invocation's command; returns the exit status. Throws Failure.
int RunCommand(const Invocation& invocation);

// The usage text.
const char* Usage();

}  // namespace certctl
