// The tool's commands: one table of every command with its operands and
// options, from which the command line is parsed (command_line.h) and the
// help texts are written.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/certctl/session.h"

namespace certctl {

// A parsed command line.
struct Invocation {
  Options options;
  std::string command;                                     // "set-server", "policy lock"
  std::vector<std::string> arguments;                      // its operands, in order
  std::map<std::string, std::vector<std::string>> values;  // by long name ("--out"): each value given
  std::set<std::string> switches;                          // by long name ("--policy")

  const std::string& Argument(std::size_t index) const { return arguments.at(index); }
  // The option's last value, or "" when it was not given.
  std::string Value(const std::string& name) const;
  bool Has(const std::string& name) const { return switches.count(name) != 0; }
};

// One option: its names as given on the command line ("-o,--out"; the long
// name is its key in Invocation), the name of its value ("FILE"; null for a
// switch) and what it does.
struct OptionSpec {
  const char* names;
  const char* value;
  const char* help;
  bool required = false;
  bool repeatable = false;
};

struct CommandSpec {
  const char* path;      // "set-server", "policy lock"
  const char* operands;  // "TYPE FILE": each one required
  const char* summary;
  std::vector<OptionSpec> options;
  int (*run)(const Invocation& invocation);
};

// Every command, in the order the help lists them.
const std::vector<CommandSpec>& Commands();
// The options every command takes (--store, --json, ...).
const std::vector<OptionSpec>& GlobalOptions();

// "usage: certctl set-server TYPE FILE [--policy]"
std::string UsageLine(const CommandSpec& command);
// The help of one command, or of certctl itself (null).
std::string Help(const CommandSpec* command);

// Runs the invocation's command; returns the exit status. Throws Failure.
int RunCommand(const Invocation& invocation);

}  // namespace certctl
